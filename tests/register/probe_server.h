#pragma once
// An HTTP server on 127.0.0.1 for the probe tests: serves fixed bodies by path and records which
// paths were asked for. Used by the core probe tests and by the registration window tests.

#include <map>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "http_test_server.h"
#include "test_support.h"

namespace probe_testing {

class ProbeServer {
public:
    ProbeServer() {
        server_.Get(".*", [this](const httplib::Request& req, httplib::Response& res) {
            std::lock_guard<std::mutex> lock(mutex_);
            requests_.push_back(req.path);
            auto it = bodies_.find(req.path);
            if (it == bodies_.end()) {
                res.status = 404;
                res.set_content("", "text/plain");
                return;
            }
            res.set_content(it->second.body, it->second.type.c_str());
        });
        server_.Start();
    }

    void Serve(const std::string& path, std::string body, std::string type = "text/html") {
        std::lock_guard<std::mutex> lock(mutex_);
        bodies_[path] = Entry{std::move(body), std::move(type)};
    }
    std::string Url(const std::string& path) const { return server_.Url(path); }
    std::string Root() const { return "http://127.0.0.1:" + std::to_string(server_.port()); }
    int Port() const { return server_.port(); }
    std::vector<std::string> Requests() {
        std::lock_guard<std::mutex> lock(mutex_);
        return requests_;
    }
    void ClearRequests() {
        std::lock_guard<std::mutex> lock(mutex_);
        requests_.clear();
    }

private:
    struct Entry {
        std::string body, type;
    };
    std::mutex mutex_;
    std::map<std::string, Entry> bodies_;
    std::vector<std::string> requests_;
    testing_support::HttpTestServer server_;  // last: stopped before the tables it reads go away
};

// UTF-8 text in another encoding, through iconv (the test's own oracle, independent of the program).
inline std::string Encode(const std::string& utf8, const char* code) {
    return testing_support::Iconv(utf8, "UTF-8", code);
}

}  // namespace probe_testing

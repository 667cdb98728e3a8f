#pragma once
// An HTTP server inside the test process, on 127.0.0.1 and a free port chosen by the system.
// Register handlers, then Start(); the destructor stops the server and joins its thread.
//
//   testing_support::HttpTestServer server;
//   server.Get("/feed", [](const httplib::Request&, httplib::Response& res) {
//       res.set_content("<rss/>", "text/xml");
//   });
//   server.Start();
//   FetchPageText(server.Url("/feed"));
//
// Handlers that wait (slow or stalled answers) should wait through Pause(), which returns early
// once the server is being stopped, so that the destructor never hangs on them.
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>

namespace testing_support {

class HttpTestServer {
public:
    HttpTestServer() {
        // Idle keep-alive connections must not hold the stop for long.
        server_.set_keep_alive_timeout(1);
        port_ = server_.bind_to_any_port("127.0.0.1");
        if (port_ <= 0) throw std::runtime_error("cannot bind a port on 127.0.0.1");
    }
    // Registers the handlers through setup, then starts.
    explicit HttpTestServer(const std::function<void(HttpTestServer&)>& setup) : HttpTestServer() {
        setup(*this);
        Start();
    }
    ~HttpTestServer() {
        stopping_ = true;
        server_.stop();
        if (thread_.joinable()) thread_.join();
    }
    HttpTestServer(const HttpTestServer&) = delete;
    HttpTestServer& operator=(const HttpTestServer&) = delete;

    // Handlers are registered before Start(); HEAD requests are answered by the GET handlers.
    HttpTestServer& Get(const std::string& pattern, httplib::Server::Handler handler) {
        server_.Get(pattern, std::move(handler));
        return *this;
    }
    // For everything else (Post, error handlers, loggers, time-outs).
    httplib::Server& server() { return server_; }

    void Start() {
        if (thread_.joinable()) return;
        thread_ = std::thread([this] { server_.listen_after_bind(); });
        for (int i = 0; i < 1000 && !server_.is_running(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        if (!server_.is_running()) throw std::runtime_error("test server did not start");
    }

    int port() const { return port_; }
    std::string Url(const std::string& path = "/") const {
        return "http://127.0.0.1:" + std::to_string(port_) + path;
    }

    bool Stopping() const { return stopping_; }
    // Sleeps ms milliseconds, less when the server stops; false if it is stopping.
    bool Pause(int ms) const {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (!stopping_) {
            const auto now = std::chrono::steady_clock::now();
            if (now >= end) return true;
            std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
                end - now, std::chrono::milliseconds(10)));
        }
        return false;
    }

    // A port on 127.0.0.1 that nothing listens on, so connections to it are refused.
    static int UnusedPort() {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        if (fd < 0) throw std::runtime_error("socket failed");
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = 0;
        socklen_t len = sizeof addr;
        int port = -1;
        if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
            ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
            port = ntohs(addr.sin_port);
        ::close(fd);  // bound but never listening: nothing accepts on it afterwards
        if (port <= 0) throw std::runtime_error("no free port");
        return port;
    }

private:
    httplib::Server server_;
    std::thread thread_;
    std::atomic<bool> stopping_{false};
    int port_ = 0;
};

}  // namespace testing_support

#pragma once
// The yardstick of the check benchmarks: HEAD then GET of every site with bare libcurl, one request
// after another, a fresh handle for each, nothing around them.
#include <curl/curl.h>

#include <cstddef>
#include <functional>
#include <string>

namespace bench_support {

inline size_t DiscardBody(char*, size_t size, size_t count, void*) { return size * count; }
inline size_t KeepBody(char* data, size_t size, size_t count, void* user) {
    static_cast<std::string*>(user)->append(data, size * count);
    return size * count;
}

// Requests site k at urlOf(k) for k in [0, sites); returns the bytes of the bodies received.
inline size_t PlainCurlLoop(int sites, const std::function<std::string(int)>& urlOf) {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    size_t bytes = 0;
    for (int k = 0; k < sites; ++k) {
        const std::string url = urlOf(k);
        std::string body;
        for (bool head : {true, false}) {
            CURL* e = curl_easy_init();
            curl_easy_setopt(e, CURLOPT_URL, url.c_str());
            curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
            if (head) curl_easy_setopt(e, CURLOPT_NOBODY, 1L);
            curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, head ? &DiscardBody : &KeepBody);
            curl_easy_setopt(e, CURLOPT_WRITEDATA, &body);
            curl_easy_perform(e);
            curl_easy_cleanup(e);
        }
        bytes += body.size();
    }
    return bytes;
}

}  // namespace bench_support

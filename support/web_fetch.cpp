#include "support/web_fetch.h"

#include <curl/curl.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <vector>

#include "support/codepage.h"
#include "support/sjis_text.h"

namespace hanabira {

namespace {

enum class Request { Fetch, Status, Head };

constexpr size_t kBlockBytes = 1025;
constexpr long kMaxRedirects = 10;

// What the callbacks of one request share with the code that runs it.
struct Transfer {
    Request kind = Request::Fetch;
    std::string* body = nullptr;
    size_t bodyStart = 0;
    size_t maxBody = 0;
    const AbortTest* abort = nullptr;
    bool aborted = false;      // the abort test asked to stop
    bool capped = false;       // the body reached its size limit
    bool headersDone = false;  // the status query has all it asked for
    std::vector<std::string> headerLines;  // of the latest response, its status line first
};

struct EasyDeleter {
    void operator()(CURL* h) const { curl_easy_cleanup(h); }
};
struct SlistDeleter {
    void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};
struct MultiDeleter {
    void operator()(CURLM* m) const { curl_multi_cleanup(m); }
};

// A configured easy handle with the header list it points to.
struct Handle {
    std::unique_ptr<CURL, EasyDeleter> easy;
    std::unique_ptr<curl_slist, SlistDeleter> headers;
};

bool AskedToAbort(Transfer& t) {
    if (!t.abort || !*t.abort) return false;
    try {
        if ((*t.abort)()) t.aborted = true;
    } catch (...) {
        t.aborted = true;  // nothing may be thrown through libcurl
    }
    return t.aborted;
}

size_t OnBody(char* data, size_t size, size_t count, void* user) {
    Transfer& t = *static_cast<Transfer*>(user);
    const size_t total = size * count;
    if (t.kind != Request::Fetch) {
        t.headersDone = true;  // the first body byte: the status query has what it wants
        return 0;
    }
    // Blocks of at most kBlockBytes, with the stop tests before each one.
    for (size_t done = 0; done < total;) {
        if (AskedToAbort(t)) return 0;
        const size_t held = t.body->size() - t.bodyStart;
        if (held >= t.maxBody) {
            t.capped = true;
            return 0;
        }
        const size_t n = std::min({kBlockBytes, total - done, t.maxBody - held});
        try {
            t.body->append(data + done, n);
        } catch (...) {
            t.capped = true;  // out of memory: keep what fitted
            return 0;
        }
        done += n;
    }
    return total;
}

long StatusOf(const std::string& statusLine) {
    const size_t sp = statusLine.find(' ');
    if (sp == std::string::npos) return 0;
    return std::strtol(statusLine.c_str() + sp + 1, nullptr, 10);
}

size_t OnHeader(char* data, size_t size, size_t count, void* user) {
    Transfer& t = *static_cast<Transfer*>(user);
    const size_t total = size * count;
    std::string line(data, total);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    try {
        if (line.compare(0, 5, "HTTP/") == 0) {
            t.headerLines.clear();  // a new response (after a redirect or an interim 1xx)
            t.headerLines.push_back(line);
        } else if (!line.empty()) {
            t.headerLines.push_back(line);
        } else if (t.kind == Request::Status && !t.headerLines.empty()) {
            const long code = StatusOf(t.headerLines.front());
            if (code >= 200) {
                t.headersDone = true;  // headers only: the body is never read
                return 0;
            }
        }
    } catch (...) {
        return 0;
    }
    return total;
}

int OnProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    // Also asked while a server is silent, so an abort need not wait for the next block.
    return AskedToAbort(*static_cast<Transfer*>(user)) ? 1 : 0;
}

void InitCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

bool HasScheme(const std::string& url) { return url.find("://") != std::string::npos; }

// Every request of the program is configured here.
Handle BuildHandle(Request kind, const std::string& url, Transfer& t) {
    InitCurlOnce();
    Handle h;
    h.easy.reset(curl_easy_init());
    CURL* e = h.easy.get();
    if (!e) return h;
    const FetchLimits limits = CurrentFetchLimits();
    t.kind = kind;
    t.maxBody = limits.maxBodyBytes;

    curl_easy_setopt(e, CURLOPT_URL, url.c_str());
    curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);  // time-outs without signals: safe on any thread
    curl_easy_setopt(e, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT, limits.connectTimeoutSec);
    curl_easy_setopt(e, CURLOPT_LOW_SPEED_LIMIT, limits.lowSpeedBytesPerSec);
    curl_easy_setopt(e, CURLOPT_LOW_SPEED_TIME, limits.lowSpeedTimeSec);
    curl_easy_setopt(e, CURLOPT_TIMEOUT, limits.totalTimeoutSec);
    curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, &OnHeader);
    curl_easy_setopt(e, CURLOPT_HEADERDATA, &t);
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &OnBody);
    curl_easy_setopt(e, CURLOPT_WRITEDATA, &t);

    curl_slist* headers = nullptr;
    switch (kind) {
        case Request::Fetch:
            curl_easy_setopt(e, CURLOPT_USERAGENT, "Mozilla/4.0 (compatible; MSIE 6.0; Windows XP)");
            curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 1L);
            curl_easy_setopt(e, CURLOPT_MAXREDIRS, kMaxRedirects);
            curl_easy_setopt(e, CURLOPT_BUFFERSIZE, static_cast<long>(kBlockBytes));
            headers = curl_slist_append(headers, "Cache-Control: no-cache");
            headers = curl_slist_append(headers, "Pragma: no-cache");
            if (t.abort && *t.abort) {
                curl_easy_setopt(e, CURLOPT_NOPROGRESS, 0L);
                curl_easy_setopt(e, CURLOPT_XFERINFOFUNCTION, &OnProgress);
                curl_easy_setopt(e, CURLOPT_XFERINFODATA, &t);
            }
            break;
        case Request::Status:
            // The application title, in the program's own Shift_JIS bytes.
            curl_easy_setopt(e, CURLOPT_USERAGENT, SjisLiteral("VUVarovaduro Hanabira 2号").c_str());
            curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 0L);
            break;
        case Request::Head:
            curl_easy_setopt(e, CURLOPT_NOBODY, 1L);
            curl_easy_setopt(e, CURLOPT_USERAGENT, "Mozilla/3.0 (compatible; Indy Library)");
            curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 0L);
            headers = curl_slist_append(headers, "Accept: text/html, */*");
            break;
    }
    h.headers.reset(headers);
    if (headers) curl_easy_setopt(e, CURLOPT_HTTPHEADER, headers);
    return h;
}

long ResponseCode(CURL* e) {
    long code = 0;
    curl_easy_getinfo(e, CURLINFO_RESPONSE_CODE, &code);
    return code;
}

// The value of the first header line called name (compared without case), if there is one.
bool FindHeader(const std::vector<std::string>& lines, std::string_view name, std::string& value) {
    const std::string lowName = LowerSjis(name);
    for (size_t i = 1; i < lines.size(); ++i) {
        const std::string_view line = lines[i];
        const size_t colon = line.find(':');
        if (colon == std::string_view::npos || LowerSjis(line.substr(0, colon)) != lowName) continue;
        std::string_view v = line.substr(colon + 1);
        while (!v.empty() && (v.front() == ' ' || v.front() == '\t')) v.remove_prefix(1);
        while (!v.empty() && (v.back() == ' ' || v.back() == '\t')) v.remove_suffix(1);
        value = std::string(v);
        return true;
    }
    return false;
}

}  // namespace

FetchLimits& CurrentFetchLimits() {
    static FetchLimits limits;
    return limits;
}

bool FetchToStream(std::string& stream, const std::string& url, const AbortTest& abort) {
    if (!HasScheme(url)) return false;  // a bare host name is no URL
    Transfer t;
    t.body = &stream;
    t.bodyStart = stream.size();
    t.abort = &abort;
    Handle h = BuildHandle(Request::Fetch, url, t);
    if (!h.easy) return false;
    const CURLcode rc = curl_easy_perform(h.easy.get());
    const bool answered = ResponseCode(h.easy.get()) > 0;
    bool ok = false;
    if (rc == CURLE_OK) {
        ok = true;
    } else if (t.aborted || t.capped) {
        ok = answered;  // stopped on purpose: what was read counts
    } else if (rc == CURLE_PARTIAL_FILE || rc == CURLE_RECV_ERROR) {
        ok = answered;  // the server closed early: the body ends where its bytes end
    }
    // Time-outs and every other error are failures.
    if (!ok) stream.resize(t.bodyStart);
    return ok;
}

bool FetchToStream(std::string& stream, const std::string& url) { return FetchToStream(stream, url, {}); }

std::string FetchPageText(const std::string& url, const AbortTest& abort) {
    try {
        std::string body;
        if (FetchToStream(body, url, abort)) return NormalizeLineBreaks(body);
    } catch (...) {
    }
    return SjisLiteral("<取得できませんでした>");
}

std::string FetchPageText(const std::string& url) { return FetchPageText(url, {}); }

bool QueryUrlStatus(const std::string& url, std::string& status, std::string& lastModified) {
    status.clear();
    lastModified.clear();
    if (!HasScheme(url)) return false;
    Transfer t;
    Handle h = BuildHandle(Request::Status, url, t);
    if (!h.easy) return false;
    const CURLcode rc = curl_easy_perform(h.easy.get());
    if (rc != CURLE_OK && !t.headersDone) return false;
    const long code = ResponseCode(h.easy.get());
    if (code <= 0) return false;
    status = std::to_string(code);
    FindHeader(t.headerLines, "Last-Modified", lastModified);
    return status == "200" || status == "401";
}

bool HeadRequest(const std::string& url, std::string& statusAndHeaders, const std::function<void()>& pump) {
    statusAndHeaders.clear();
    if (!HasScheme(url)) return false;
    Transfer t;
    Handle h = BuildHandle(Request::Head, url, t);
    if (!h.easy) return false;
    std::unique_ptr<CURLM, MultiDeleter> multi(curl_multi_init());
    if (!multi) return false;
    if (curl_multi_add_handle(multi.get(), h.easy.get()) != CURLM_OK) return false;
    // Removes the easy handle before either is cleaned up, also when pump throws.
    struct Detach {
        CURLM* m;
        CURL* e;
        ~Detach() { curl_multi_remove_handle(m, e); }
    } detach{multi.get(), h.easy.get()};

    // Short waits, so that pump runs several times within every 250 ms.
    constexpr int kPollMs = 50;
    CURLcode result = CURLE_FAILED_INIT;
    int running = 1;
    while (running) {
        if (curl_multi_perform(multi.get(), &running) != CURLM_OK) break;
        if (running) curl_multi_poll(multi.get(), nullptr, 0, kPollMs, nullptr);
        if (pump) pump();
    }
    int queued = 0;
    while (CURLMsg* msg = curl_multi_info_read(multi.get(), &queued)) {
        if (msg->msg == CURLMSG_DONE && msg->easy_handle == h.easy.get()) result = msg->data.result;
    }
    if (result != CURLE_OK) return false;
    const long code = ResponseCode(h.easy.get());
    if (code < 200 || code > 299) return false;
    std::string text;
    for (const std::string& line : t.headerLines) {
        if (!text.empty()) text += "\r\n";
        text += line;
    }
    statusAndHeaders = std::move(text);
    return true;
}

}  // namespace hanabira

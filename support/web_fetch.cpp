#include "support/web_fetch.h"

#include <curl/curl.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <vector>

#include "support/codepage.h"
#include "support/http_headers.h"
#include "support/sjis_text.h"

namespace hanabira {

namespace {

enum class Request { Fetch, Status, Head };

constexpr size_t kBlockBytes = 1025;
constexpr long kMaxRedirects = 10;
// The longest wait between two stop tests (and pump calls) of a controlled request: short enough
// that a stop ends a silent request well within a second and the window paints several times
// within every 250 ms.
constexpr int kPollMs = 50;

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

std::string JoinLines(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) {
        if (!text.empty()) text += "\r\n";
        text += line;
    }
    return text;
}

// Runs a configured transfer to its end. With a stop test or a pump it goes through a multi
// handle in short polls, so that the test is asked even while the server sends nothing (or
// trickles), and the pump runs between polls. A stop leaves t.aborted set.
CURLcode Run(CURL* e, Transfer& t, const std::function<void()>* pump) {
    const bool pumping = pump && *pump;
    if (!pumping && !(t.abort && *t.abort)) return curl_easy_perform(e);
    std::unique_ptr<CURLM, MultiDeleter> multi(curl_multi_init());
    if (!multi) return CURLE_OUT_OF_MEMORY;
    if (curl_multi_add_handle(multi.get(), e) != CURLM_OK) return CURLE_FAILED_INIT;
    // Removes the easy handle before either is cleaned up, also when pump throws.
    struct Detach {
        CURLM* m;
        CURL* e;
        ~Detach() { curl_multi_remove_handle(m, e); }
    } detach{multi.get(), e};

    int running = 1;
    for (;;) {
        if (curl_multi_perform(multi.get(), &running) != CURLM_OK) return CURLE_FAILED_INIT;
        if (!running) break;
        curl_multi_poll(multi.get(), nullptr, 0, kPollMs, nullptr);
        if (pumping) (*pump)();
        // Asked after the pump: whatever the pump did (closing the window included) is seen before
        // the transfer can end as a success.
        if (AskedToAbort(t)) return CURLE_ABORTED_BY_CALLBACK;
    }
    CURLcode result = CURLE_FAILED_INIT;
    int queued = 0;
    while (CURLMsg* msg = curl_multi_info_read(multi.get(), &queued)) {
        if (msg->msg == CURLMSG_DONE && msg->easy_handle == e) result = msg->data.result;
    }
    return result;
}

// A GET of the page and feed fetches. Failed requests leave stream as it was; a stopped one keeps
// what it read, and answered says whether a response had begun.
RequestResult Fetch(std::string& stream, const std::string& url, const AbortTest* abort,
                    const std::function<void()>* pump, bool& answered) {
    answered = false;
    if (!HasScheme(url)) return RequestResult::Failed;  // a bare host name is no URL
    Transfer t;
    t.body = &stream;
    t.bodyStart = stream.size();
    t.abort = abort;
    Handle h = BuildHandle(Request::Fetch, url, t);
    if (!h.easy) return RequestResult::Failed;
    const CURLcode rc = Run(h.easy.get(), t, pump);
    answered = ResponseCode(h.easy.get()) > 0;
    if (t.aborted) return RequestResult::Aborted;
    bool ok = false;
    if (rc == CURLE_OK) {
        ok = true;
    } else if (t.capped) {
        ok = answered;  // stopped on purpose: what was read counts
    } else if (rc == CURLE_PARTIAL_FILE || rc == CURLE_RECV_ERROR) {
        ok = answered;  // the server closed early: the body ends where its bytes end
    }
    // Time-outs and every other error are failures.
    if (!ok) stream.resize(t.bodyStart);
    return ok ? RequestResult::Ok : RequestResult::Failed;
}

}  // namespace

FetchLimits& CurrentFetchLimits() {
    static FetchLimits limits;
    return limits;
}

bool FetchToStream(std::string& stream, const std::string& url, const AbortTest& abort) {
    const size_t start = stream.size();
    bool answered = false;
    const RequestResult r = Fetch(stream, url, &abort, nullptr, answered);
    if (r == RequestResult::Ok) return true;
    // Stopped on purpose: what was read counts, if anything was answered at all.
    if (r == RequestResult::Aborted && answered) return true;
    stream.resize(start);
    return false;
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
    return QueryUrlStatus(url, status, lastModified, RequestControl{});
}

bool QueryUrlStatus(const std::string& url, std::string& status, std::string& lastModified,
                    const RequestControl& control) {
    status.clear();
    lastModified.clear();
    if (!HasScheme(url)) return false;
    Transfer t;
    t.abort = &control.abort;
    Handle h = BuildHandle(Request::Status, url, t);
    if (!h.easy) return false;
    const CURLcode rc = Run(h.easy.get(), t, &control.pump);
    if (t.aborted) return false;
    if (rc != CURLE_OK && !t.headersDone) return false;
    const long code = ResponseCode(h.easy.get());
    if (code <= 0) return false;
    status = std::to_string(code);
    const std::vector<std::string> dates = HeaderFieldValues(JoinLines(t.headerLines), "Last-Modified");
    if (!dates.empty()) lastModified = dates.front();
    return status == "200" || status == "401";
}

RequestResult HeadCheck(const std::string& url, std::string& statusAndHeaders, const RequestControl& control) {
    statusAndHeaders.clear();
    if (!HasScheme(url)) return RequestResult::Failed;
    Transfer t;
    t.abort = &control.abort;
    Handle h = BuildHandle(Request::Head, url, t);
    if (!h.easy) return RequestResult::Failed;
    const CURLcode rc = Run(h.easy.get(), t, &control.pump);
    if (t.aborted) return RequestResult::Aborted;
    if (rc != CURLE_OK) return RequestResult::Failed;
    const long code = ResponseCode(h.easy.get());
    if (code < 200 || code > 299) return RequestResult::Failed;
    statusAndHeaders = JoinLines(t.headerLines);
    return RequestResult::Ok;
}

bool HeadRequest(const std::string& url, std::string& statusAndHeaders, const std::function<void()>& pump) {
    RequestControl control;
    control.pump = pump;
    return HeadCheck(url, statusAndHeaders, control) == RequestResult::Ok;
}

RequestResult FetchFeed(const std::string& url, std::string& text, const RequestControl& control) {
    text.clear();
    std::string body;
    bool answered = false;
    const RequestResult r = Fetch(body, url, &control.abort, &control.pump, answered);
    if (r == RequestResult::Ok) {
        text = NormalizeLineBreaks(body);
    } else if (r == RequestResult::Failed) {
        text = SjisLiteral("<取得できませんでした>");
    }
    return r;
}

}  // namespace hanabira

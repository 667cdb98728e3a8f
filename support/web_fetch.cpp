#include "support/web_fetch.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
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
    bool aborted = false;                  // the abort test asked to stop
    bool capped = false;                   // the body reached its size limit
    bool headersDone = false;              // the status query has all it asked for
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

bool HasScheme(const std::string& url) {
    return url.find("://") != std::string::npos;
}

// Every request of the program is configured here.
// compressed: the feed fetches of the update checks accept every encoding this libcurl decodes, as
// servers expect of a feed reader (the body limit counts the decoded bytes). Page fetches do not:
// a compressed answer that is cut short would keep less of the page than a plain one.
Handle BuildHandle(Request kind, const std::string& url, Transfer& t, bool compressed = false) {
    InitCurlOnce();
    Handle h;
    h.easy.reset(curl_easy_init());
    CURL* e = h.easy.get();
    if (!e) return h;
    const FetchLimits limits = CurrentFetchLimits();
    t.kind = kind;
    t.maxBody = limits.maxBodyBytes;

    // A character kept as a reference goes out as its UTF-8 percent-encoding.
    curl_easy_setopt(e, CURLOPT_URL, UrlForRequest(url).c_str());
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
            if (compressed) curl_easy_setopt(e, CURLOPT_ACCEPT_ENCODING, "");
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

// How a finished GET ended, the same for a single request and one of a pool. Failed requests leave
// stream as it was; a stopped one keeps what it read.
RequestResult FetchOutcome(CURL* e, CURLcode rc, const Transfer& t, std::string& stream, bool& answered) {
    answered = ResponseCode(e) > 0;
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

// How a finished HEAD check ended: Ok only for a 2xx answer that arrived whole before any stop.
RequestResult HeadOutcome(CURL* e, CURLcode rc, const Transfer& t, std::string& statusAndHeaders) {
    statusAndHeaders.clear();
    if (t.aborted) return RequestResult::Aborted;
    if (rc != CURLE_OK) return RequestResult::Failed;
    const long code = ResponseCode(e);
    if (code < 200 || code > 299) return RequestResult::Failed;
    statusAndHeaders = JoinLines(t.headerLines);
    return RequestResult::Ok;
}

// The text the feed fetch hands on for each outcome.
void FeedText(RequestResult r, const std::string& body, std::string& text) {
    text.clear();
    if (r == RequestResult::Ok) {
        text = NormalizeLineBreaks(body);
    } else if (r == RequestResult::Failed) {
        text = SjisLiteral("<取得できませんでした>");
    }
}

// A GET of the page and feed fetches. Failed requests leave stream as it was; a stopped one keeps
// what it read, and answered says whether a response had begun.
RequestResult Fetch(std::string& stream, const std::string& url, const AbortTest* abort,
                    const std::function<void()>* pump, bool& answered, bool compressed = false) {
    answered = false;
    if (!HasScheme(url)) return RequestResult::Failed;  // a bare host name is no URL
    Transfer t;
    t.body = &stream;
    t.bodyStart = stream.size();
    t.abort = abort;
    Handle h = BuildHandle(Request::Fetch, url, t, compressed);
    if (!h.easy) return RequestResult::Failed;
    const CURLcode rc = Run(h.easy.get(), t, pump);
    return FetchOutcome(h.easy.get(), rc, t, stream, answered);
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

bool FetchToStream(std::string& stream, const std::string& url) {
    return FetchToStream(stream, url, {});
}

std::string FetchPageText(const std::string& url, const AbortTest& abort) {
    try {
        std::string body;
        if (FetchToStream(body, url, abort)) return NormalizeLineBreaks(body);
    } catch (...) {
    }
    return SjisLiteral("<取得できませんでした>");
}

std::string FetchPageText(const std::string& url) {
    return FetchPageText(url, {});
}

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

RequestResult HeadCheck(const std::string& url, std::string& statusAndHeaders,
                        const RequestControl& control) {
    statusAndHeaders.clear();
    if (!HasScheme(url)) return RequestResult::Failed;
    Transfer t;
    t.abort = &control.abort;
    Handle h = BuildHandle(Request::Head, url, t);
    if (!h.easy) return RequestResult::Failed;
    const CURLcode rc = Run(h.easy.get(), t, &control.pump);
    return HeadOutcome(h.easy.get(), rc, t, statusAndHeaders);
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
    const RequestResult r = Fetch(body, url, &control.abort, &control.pump, answered, true);
    FeedText(r, body, text);
    return r;
}

// ---- RequestPool ----

struct RequestPool::Impl {
    using Clock = std::chrono::steady_clock;
    struct Entry {
        std::uint64_t tag = 0;
        Kind kind = Kind::Head;
        std::string url, host;
        Transfer t;  // the callbacks point here: entries never move
        Handle h;
        std::string body;
    };
    struct HostState {
        int running = 0;
        bool started = false;
        Clock::time_point lastStart{};
    };

    Limits limits;
    AbortTest abort;
    bool stopped = false;
    std::unique_ptr<CURLM, MultiDeleter> multi;
    std::deque<std::unique_ptr<Entry>> queue;
    std::map<CURL*, std::unique_ptr<Entry>> running;
    std::map<std::string, HostState> hosts;
    std::vector<Finished> ready;  // ended without a transfer (no address)

    ~Impl() {
        // Handles leave the multi handle before either is cleaned up.
        for (auto& [easy, entry] : running) curl_multi_remove_handle(multi.get(), easy);
        running.clear();
    }

    bool Stop() {
        if (stopped) return true;
        if (!abort) return false;
        try {
            stopped = abort();
        } catch (...) {
            stopped = true;
        }
        return stopped;
    }

    Clock::duration Gap() const { return std::chrono::milliseconds(std::max(limits.hostGapMs, 0)); }

    // Why a queued request to host waits: 0 = it may start; > 0 = the host's gap ends in that many
    // ms; < 0 = the host is full.
    long WaitOf(const std::string& host, Clock::time_point now) const {
        const auto it = hosts.find(host);
        if (it == hosts.end()) return 0;
        const HostState& h = it->second;
        if (h.running >= std::max(limits.perHost, 1)) return -1;
        if (!h.started) return 0;
        const auto left = h.lastStart + Gap() - now;
        if (left <= Clock::duration::zero()) return 0;
        return std::max<long>(1,
                              static_cast<long>(std::chrono::ceil<std::chrono::milliseconds>(left).count()));
    }

    void Finish(Entry& e, RequestResult r, CURL* easy, CURLcode rc, std::vector<Finished>& out) {
        Finished f;
        f.tag = e.tag;
        f.kind = e.kind;
        f.result = r;
        if (easy && r != RequestResult::Aborted) {
            if (e.kind == Kind::Head) {
                f.result = HeadOutcome(easy, rc, e.t, f.text);
            } else {
                bool answered = false;
                f.result = FetchOutcome(easy, rc, e.t, e.body, answered);
            }
        }
        if (e.kind == Kind::Feed) FeedText(f.result, e.body, f.text);
        out.push_back(std::move(f));
    }

    void StartReady() {
        const auto now = Clock::now();
        const size_t cap = static_cast<size_t>(std::max(limits.maxTransfers, 1));
        for (auto it = queue.begin(); it != queue.end() && running.size() < cap;) {
            Entry& e = **it;
            if (WaitOf(e.host, now) != 0) {
                ++it;
                continue;
            }
            e.t.body = &e.body;
            e.t.bodyStart = 0;
            e.t.abort = &abort;
            e.h = BuildHandle(e.kind == Kind::Head ? Request::Head : Request::Fetch, e.url, e.t,
                              e.kind == Kind::Feed);
            CURL* easy = e.h.easy.get();
            if (!easy || curl_multi_add_handle(multi.get(), easy) != CURLM_OK) {
                Finish(e, RequestResult::Failed, nullptr, CURLE_FAILED_INIT, ready);
                it = queue.erase(it);
                continue;
            }
            HostState& h = hosts[e.host];
            ++h.running;
            h.started = true;
            h.lastStart = now;
            running.emplace(easy, std::move(*it));
            it = queue.erase(it);
        }
    }

    // The shortest wait of a queued request held only by its host's gap; -1 when none is.
    long NextGapEnd() const {
        const auto now = Clock::now();
        long next = -1;
        for (const auto& e : queue) {
            const long w = WaitOf(e->host, now);
            if (w > 0 && (next < 0 || w < next)) next = w;
        }
        return next;
    }

    void Collect(std::vector<Finished>& out) {
        int left = 0;
        while (CURLMsg* msg = curl_multi_info_read(multi.get(), &left)) {
            if (msg->msg != CURLMSG_DONE) continue;
            CURL* easy = msg->easy_handle;
            const CURLcode rc = msg->data.result;  // read before the handle leaves: msg goes with it
            const auto it = running.find(easy);
            if (it == running.end()) continue;
            std::unique_ptr<Entry> e = std::move(it->second);
            running.erase(it);
            curl_multi_remove_handle(multi.get(), easy);
            Release(e->host);
            Finish(*e, RequestResult::Ok, easy, rc, out);
        }
    }

    void Release(const std::string& host) {
        const auto it = hosts.find(host);
        if (it != hosts.end() && it->second.running > 0) --it->second.running;
        // Hosts without a transfer whose gap is over are forgotten: the map stays as small as the
        // requests in flight, however many hosts a run visits.
        const auto now = Clock::now();
        for (auto h = hosts.begin(); h != hosts.end();) {
            if (h->second.running == 0 && now - h->second.lastStart >= Gap())
                h = hosts.erase(h);
            else
                ++h;
        }
    }

    void AbortAll(std::vector<Finished>& out) {
        for (auto& [easy, entry] : running) {
            curl_multi_remove_handle(multi.get(), easy);
            Finish(*entry, RequestResult::Aborted, nullptr, CURLE_ABORTED_BY_CALLBACK, out);
        }
        running.clear();
        for (auto& entry : queue)
            Finish(*entry, RequestResult::Aborted, nullptr, CURLE_ABORTED_BY_CALLBACK, out);
        queue.clear();
        hosts.clear();
    }
};

RequestPool::RequestPool(Limits limits, AbortTest abort) : impl_(std::make_unique<Impl>()) {
    InitCurlOnce();
    impl_->limits = limits;
    impl_->abort = std::move(abort);
    impl_->multi.reset(curl_multi_init());
    if (CURLM* m = impl_->multi.get()) {
        // Idle connections beyond the transfers in flight are closed: a run over thousands of
        // hosts holds no more sockets than it has transfers.
        curl_multi_setopt(m, CURLMOPT_MAXCONNECTS, static_cast<long>(std::max(limits.maxTransfers, 1)));
        curl_multi_setopt(m, CURLMOPT_MAX_HOST_CONNECTIONS, static_cast<long>(std::max(limits.perHost, 1)));
    }
}

RequestPool::~RequestPool() = default;

void RequestPool::Add(std::uint64_t tag, Kind kind, const std::string& url) {
    auto e = std::make_unique<Impl::Entry>();
    e->tag = tag;
    e->kind = kind;
    e->url = url;
    e->host = HostOf(url);
    // A bare host name is no URL, and without a multi handle nothing can run: both fail at once.
    if (e->host.empty() || !impl_->multi) {
        impl_->Finish(*e, RequestResult::Failed, nullptr, CURLE_FAILED_INIT, impl_->ready);
        return;
    }
    impl_->queue.push_back(std::move(e));
}

std::vector<RequestPool::Finished> RequestPool::Perform(int waitMs) {
    Impl& p = *impl_;
    std::vector<Finished> out;
    // Requests that ended without a transfer (no address, a handle that could not start).
    const auto takeReady = [&] {
        for (Finished& f : p.ready) out.push_back(std::move(f));
        p.ready.clear();
    };
    takeReady();
    if (p.Stop()) {
        p.AbortAll(out);
        return out;
    }
    p.StartReady();
    takeReady();
    const long gapEnd = p.NextGapEnd();
    const int wait =
        static_cast<int>(gapEnd > 0 ? std::min<long>(gapEnd, std::max(waitMs, 0)) : std::max(waitMs, 0));
    if (!p.running.empty()) {
        int still = 0;
        curl_multi_perform(p.multi.get(), &still);
        p.Collect(out);
        if (out.empty()) {
            curl_multi_poll(p.multi.get(), nullptr, 0, wait, nullptr);
            curl_multi_perform(p.multi.get(), &still);
            p.Collect(out);
        }
    } else if (out.empty() && !p.queue.empty() && wait > 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(wait));
    }
    // Asked after the wait, so that a stop ends every silent transfer within one wait.
    if (p.Stop()) p.AbortAll(out);
    return out;
}

int RequestPool::Queued() const {
    return static_cast<int>(impl_->queue.size());
}

int RequestPool::Running() const {
    return static_cast<int>(impl_->running.size());
}

std::string RequestPool::HostOf(const std::string& keptUrl) {
    const std::string url = UrlForRequest(keptUrl);
    if (!HasScheme(url)) return std::string();
    std::string host;
    if (CURLU* u = curl_url()) {
        if (curl_url_set(u, CURLUPART_URL, url.c_str(), 0) == CURLUE_OK) {
            char *scheme = nullptr, *name = nullptr, *port = nullptr;
            if (curl_url_get(u, CURLUPART_SCHEME, &scheme, 0) == CURLUE_OK &&
                curl_url_get(u, CURLUPART_HOST, &name, 0) == CURLUE_OK &&
                curl_url_get(u, CURLUPART_PORT, &port, CURLU_DEFAULT_PORT) == CURLUE_OK) {
                host = std::string(scheme) + "://" + name + ":" + port;
            }
            curl_free(scheme);
            curl_free(name);
            curl_free(port);
        }
        curl_url_cleanup(u);
    }
    if (host.empty()) {
        // Not a URL libcurl reads: the text up to the path stands for the host, so the limits
        // still hold for it (its request will fail).
        const size_t start = url.find("://") + 3;
        host = url.substr(0, url.find_first_of("/?#", start));
    }
    for (char& c : host) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return host;
}

}  // namespace hanabira

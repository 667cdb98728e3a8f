#include "support/web_fetch.h"

#include <arpa/inet.h>
#include <curl/curl.h>
#include <libpsl.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <ctime>
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
    std::unique_ptr<curl_slist, SlistDeleter> resolve;
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
        return 0;  // nothing may be thrown through libcurl: the transfer ends instead
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
    // HTTP/2 where a server offers it over TLS; plain HTTP stays HTTP/1.1. In a pool, a request
    // waits for a connection being opened to its host rather than opening another beside it, so
    // that the requests to one host share one connection.
    curl_easy_setopt(e, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_2TLS));
    // Only HTTPS may multiplex: plain HTTP requests must not wait for one another's connections
    // (they would then start together, not spaced as the pool starts them).
    if (curl_strnequal(url.c_str(), "https://", 8)) curl_easy_setopt(e, CURLOPT_PIPEWAIT, 1L);
    if (!limits.resolve.empty()) {
        curl_slist* names = nullptr;
        for (const std::string& entry : limits.resolve) names = curl_slist_append(names, entry.c_str());
        h.resolve.reset(names);
        curl_easy_setopt(e, CURLOPT_RESOLVE, names);
    }
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
    } else if (rc == CURLE_PARTIAL_FILE || rc == CURLE_RECV_ERROR || rc == CURLE_HTTP2 ||
               rc == CURLE_HTTP2_STREAM) {
        // The server closed early (over HTTP/2: reset the stream or the connection): the body
        // ends where its bytes end.
        ok = answered;
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

std::string FailureText(CURL* e, CURLcode rc) {
    double seconds = 0;
    if (e) curl_easy_getinfo(e, CURLINFO_TOTAL_TIME, &seconds);
    return RequestFailureText(static_cast<int>(rc), e ? ResponseCode(e) : 0, seconds);
}

// A feed request that ended in an error answer failed: its body is an error page, no feed.
RequestResult FeedOutcome(CURL* e, CURLcode rc, const Transfer& t, std::string& body, std::string& failure) {
    bool answered = false;
    RequestResult r = FetchOutcome(e, rc, t, body, answered);
    if (r == RequestResult::Ok && ResponseCode(e) >= 400) {
        r = RequestResult::Failed;
        body.resize(t.bodyStart);
    }
    failure = r == RequestResult::Failed ? FailureText(e, rc) : std::string();
    return r;
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

std::string RequestFailureText(int curlCode, long status, double seconds) {
    if (status >= 400) {
        static const std::map<long, const char*> kMeanings = {
            {400, "リクエストが正しくありません"}, {401, "認証が必要です"},
            {403, "アクセスが拒否されました"},     {404, "ページが見つかりません"},
            {410, "ページは削除されました"},       {429, "リクエストが多すぎます"},
            {500, "サーバーのエラーです"},         {502, "ゲートウェイのエラーです"},
            {503, "サービスを利用できません"},     {504, "ゲートウェイが応答しません"}};
        const auto it = kMeanings.find(status);
        const char* meaning = it != kMeanings.end() ? it->second
                              : status < 500         ? "リクエストが受け付けられませんでした"
                                                     : "サーバーのエラーです";
        return std::to_string(status) + " " + SjisLiteral(meaning);
    }
    switch (static_cast<CURLcode>(curlCode)) {
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY:
            return SjisLiteral("サーバーが見つかりません");
        case CURLE_COULDNT_CONNECT:
            return SjisLiteral("接続できません");
        case CURLE_OPERATION_TIMEDOUT:
            return SjisLiteral("応答がありません") + " (" + std::to_string(std::lround(seconds)) + " " +
                   SjisLiteral("秒") + ")";
        case CURLE_TOO_MANY_REDIRECTS:
            return SjisLiteral("リダイレクトが多すぎます");
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_PEER_FAILED_VERIFICATION:
            return SjisLiteral("安全な接続ができません");
        case CURLE_URL_MALFORMAT:
        case CURLE_UNSUPPORTED_PROTOCOL:
            return SjisLiteral("アドレスが正しくありません");
        default:
            return SjisLiteral("取得できませんでした");
    }
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
        // Any failure of the page fetch gives the failure text, as a refused connection does.
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
    std::string failure;
    return FetchFeed(url, text, control, failure);
}

RequestResult FetchFeed(const std::string& url, std::string& text, const RequestControl& control,
                        std::string& failure) {
    text.clear();
    failure = SjisLiteral("アドレスが正しくありません");
    if (!HasScheme(url)) {
        FeedText(RequestResult::Failed, {}, text);
        return RequestResult::Failed;
    }
    std::string body;
    Transfer t;
    t.body = &body;
    t.abort = &control.abort;
    Handle h = BuildHandle(Request::Fetch, url, t, true);
    RequestResult r = RequestResult::Failed;
    if (h.easy) {
        const CURLcode rc = Run(h.easy.get(), t, &control.pump);
        r = FeedOutcome(h.easy.get(), rc, t, body, failure);
    }
    FeedText(r, body, text);
    return r;
}

// ---- RequestPool ----

namespace {
// How long a group that answered 429 or 503 without Retry-After waits: this at first, doubled at
// each further such answer, never more than kMaxRetryWaitSec.
constexpr long kFirstBackOffSec = 5;
constexpr long kMaxRetryWaitSec = 60;

bool AsksToSlowDown(long status) {
    return status == 429 || status == 503;
}
}  // namespace

struct RequestPool::Impl {
    using Clock = std::chrono::steady_clock;
    struct Entry {
        std::uint64_t tag = 0;
        Kind kind = Kind::Head;
        std::string url, group;
        bool retried = false;  // answered 429 or 503 once already
        Transfer t;            // the callbacks point here: entries never move
        Handle h;
        std::string body;
    };
    struct GroupState {
        int running = 0;
        bool started = false;
        Clock::time_point lastStart{};
        // Set once the group asked to be left alone: it keeps its pause and its smaller share.
        bool slowed = false;
        int limit = 0;  // transfers at once (0: the pool's perGroup)
        Clock::time_point pausedUntil{};
        long backOffSec = 0;
    };

    Limits limits;
    AbortTest abort;
    bool stopped = false;
    std::unique_ptr<CURLM, MultiDeleter> multi;
    std::deque<std::unique_ptr<Entry>> queue;
    std::map<CURL*, std::unique_ptr<Entry>> running;
    std::map<std::string, GroupState> groups;
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
            stopped = true;  // a stop test that fails stops: nothing is stored for a stop
        }
        return stopped;
    }

    Clock::duration Gap() const { return std::chrono::milliseconds(std::max(limits.groupGapMs, 0)); }
    int PerGroup() const { return std::max(limits.perGroup, 1); }

    static long CeilMs(Clock::duration d) {
        return std::max<long>(1, static_cast<long>(std::chrono::ceil<std::chrono::milliseconds>(d).count()));
    }

    // Why a queued request to group waits: 0 = it may start; > 0 = the group's gap or pause ends
    // in that many ms; < 0 = the group is full.
    long WaitOf(const std::string& group, Clock::time_point now) const {
        const auto it = groups.find(group);
        if (it == groups.end()) return 0;
        const GroupState& g = it->second;
        if (g.slowed && g.pausedUntil > now) return CeilMs(g.pausedUntil - now);
        if (g.running >= (g.limit > 0 ? g.limit : PerGroup())) return -1;
        if (!g.started) return 0;
        const auto left = g.lastStart + Gap() - now;
        if (left <= Clock::duration::zero()) return 0;
        return CeilMs(left);
    }

    size_t BodiesHeld() const {
        size_t held = 0;
        for (const auto& [easy, entry] : running) held += entry->body.size();
        return held;
    }

    void Finish(Entry& e, RequestResult r, CURL* easy, CURLcode rc, std::vector<Finished>& out) {
        Finished f;
        f.tag = e.tag;
        f.kind = e.kind;
        f.result = r;
        if (easy && r != RequestResult::Aborted) {
            if (e.kind == Kind::Head)
                f.result = HeadOutcome(easy, rc, e.t, f.text);
            else
                f.result = FeedOutcome(easy, rc, e.t, e.body, f.failure);
        } else if (r == RequestResult::Failed) {
            f.failure = FailureText(nullptr, rc);
        }
        if (e.kind == Kind::Feed) FeedText(f.result, e.body, f.text);
        out.push_back(std::move(f));
    }

    void StartReady() {
        const auto now = Clock::now();
        const size_t cap = static_cast<size_t>(std::max(limits.maxTransfers, 1));
        // Feed bodies are what a run holds in memory; HEAD requests hold none and may go on.
        const bool bodiesFull = BodiesHeld() > limits.bodyBudgetBytes;
        for (auto it = queue.begin(); it != queue.end() && running.size() < cap;) {
            Entry& e = **it;
            if (WaitOf(e.group, now) != 0 || (bodiesFull && e.kind == Kind::Feed)) {
                ++it;
                continue;
            }
            e.t = Transfer{};
            e.body.clear();
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
            GroupState& g = groups[e.group];
            ++g.running;
            g.started = true;
            g.lastStart = now;
            running.emplace(easy, std::move(*it));
            it = queue.erase(it);
        }
    }

    // The shortest wait of a queued request held only by its group's gap or pause; -1 when none is.
    long NextGapEnd() const {
        const auto now = Clock::now();
        long next = -1;
        for (const auto& e : queue) {
            const long w = WaitOf(e->group, now);
            if (w > 0 && (next < 0 || w < next)) next = w;
        }
        return next;
    }

    // A 429 or 503 answer, the first for this request: its group waits and keeps a smaller share,
    // and the request goes back to the head of the queue. False when the answer is final.
    bool Requeue(std::unique_ptr<Entry>& e, CURL* easy, CURLcode rc) {
        if (e->retried || e->t.aborted || rc != CURLE_OK || !AsksToSlowDown(ResponseCode(easy))) return false;
        GroupState& g = groups[e->group];
        long wait = RetryAfterSeconds(JoinLines(e->t.headerLines), std::time(nullptr));
        if (wait < 0) {
            g.backOffSec = g.backOffSec > 0 ? g.backOffSec * 2 : kFirstBackOffSec;
            wait = g.backOffSec;
        }
        wait = std::min(wait, kMaxRetryWaitSec);
        g.slowed = true;
        g.limit = std::max(1, (g.limit > 0 ? g.limit : PerGroup()) / 2);
        g.pausedUntil = std::max(g.pausedUntil, Clock::now() + std::chrono::seconds(wait));
        e->retried = true;
        e->h = Handle{};
        queue.push_front(std::move(e));
        return true;
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
            Release(e->group);
            if (Requeue(e, easy, rc)) continue;
            Finish(*e, RequestResult::Ok, easy, rc, out);
        }
    }

    void Release(const std::string& group) {
        const auto it = groups.find(group);
        if (it != groups.end() && it->second.running > 0) --it->second.running;
        // Groups without a transfer whose gap is over are forgotten (but those that asked to be
        // left alone): the map stays as small as the requests in flight, however many groups a
        // run visits.
        const auto now = Clock::now();
        for (auto g = groups.begin(); g != groups.end();) {
            if (g->second.running == 0 && !g->second.slowed && now - g->second.lastStart >= Gap())
                g = groups.erase(g);
            else
                ++g;
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
        groups.clear();
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
        curl_multi_setopt(m, CURLMOPT_MAX_HOST_CONNECTIONS, static_cast<long>(std::max(limits.perGroup, 1)));
    }
}

RequestPool::~RequestPool() = default;

void RequestPool::Add(std::uint64_t tag, Kind kind, const std::string& url) {
    auto e = std::make_unique<Impl::Entry>();
    e->tag = tag;
    e->kind = kind;
    e->url = url;
    e->group = GroupOf(url);
    // A bare host name is no URL, and without a multi handle nothing can run: both fail at once.
    if (e->group.empty() || !impl_->multi) {
        impl_->Finish(*e, RequestResult::Failed, nullptr, e->group.empty() ? CURLE_URL_MALFORMAT : CURLE_FAILED_INIT, impl_->ready);
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

namespace {

// The suffixes of the domain registries (".jp", ".co.jp", ".com", ...), as the system keeps them up
// to date, else as libpsl was built with them. Read once; never freed.
const psl_ctx_t* PublicSuffixes() {
    static const psl_ctx_t* psl = [] {
        const psl_ctx_t* latest = psl_latest(nullptr);
        return latest ? latest : psl_builtin();
    }();
    return psl;
}

// The name one label below the longest registry suffix of host ("a.b.example.co.jp" ->
// "example.co.jp"); empty when host has no known suffix or is one. The list's private section
// (blog services that give each user a subdomain, such as "blogspot.com") is left out on purpose:
// those subdomains are still one service's servers.
std::string RegistrableDomain(const std::string& host) {
    const psl_ctx_t* psl = PublicSuffixes();
    if (!psl || host.empty()) return std::string();
    size_t label = std::string::npos;  // where the label before the suffix tried begins
    for (size_t start = 0;;) {
        if (psl_is_public_suffix2(psl, host.c_str() + start, PSL_TYPE_ICANN | PSL_TYPE_NO_STAR_RULE))
            return label == std::string::npos ? std::string() : host.substr(label);
        const size_t dot = host.find('.', start);
        if (dot == std::string::npos) return std::string();
        label = start;
        start = dot + 1;
    }
}

bool IsAddress(const std::string& host) {
    unsigned char buf[16];
    if (!host.empty() && host.front() == '[') return true;  // IPv6, as URLs write it
    return inet_pton(AF_INET, host.c_str(), buf) == 1 || inet_pton(AF_INET6, host.c_str(), buf) == 1;
}

}  // namespace

std::string RequestPool::GroupOf(const std::string& keptUrl) {
    const std::string host = HostOf(keptUrl);
    if (host.empty()) return host;
    // "scheme://name:port" -> name and port.
    const size_t nameStart = host.find("://") + 3;
    const size_t colon = host.rfind(':');
    if (colon == std::string::npos || colon < nameStart) return host;  // not a URL libcurl reads
    std::string name = host.substr(nameStart, colon - nameStart);
    while (!name.empty() && name.back() == '.') name.pop_back();  // "example.jp." is "example.jp"
    if (!IsAddress(name)) {
        const std::string domain = RegistrableDomain(name);
        if (!domain.empty()) return domain;
    }
    return name + host.substr(colon);
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

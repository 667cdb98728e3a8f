#pragma once
// Every HTTP request of the program: page and feed GETs, the status query and the HEAD check.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace hanabira {

bool FetchToStream(std::string& stream, const std::string& url);  // appends the body bytes
std::string FetchPageText(const std::string& url);
bool QueryUrlStatus(const std::string& url, std::string& status, std::string& lastModified);

// Returns true when the transfer should stop; tested before each body block is taken.
using AbortTest = std::function<bool()>;
// As FetchToStream, but stops reading (keeping what it read, still a success) once abort() is true.
bool FetchToStream(std::string& stream, const std::string& url, const AbortTest& abort);
// As FetchPageText, with the same abort test.
std::string FetchPageText(const std::string& url, const AbortTest& abort);

// The HEAD check of the update checks: HEAD to url with the HTTP client's default headers, no
// redirect following. True only for a 2xx answer; statusAndHeaders then holds the status line and
// the header lines joined by CR LF. pump, when set, is called at least every 250 ms while waiting
// (the GUI thread keeps painting through it).
bool HeadRequest(const std::string& url, std::string& statusAndHeaders,
                 const std::function<void()>& pump = {});

// How a request of the update checks ended. Aborted means the stop test ended it: the caller
// then learnt nothing about the site, unlike a failed request, and must not store anything.
enum class RequestResult { Ok, Failed, Aborted };

// What a caller lends a request of the update checks.
struct RequestControl {
    AbortTest abort;             // asked every 50 ms, also while the server sends nothing
    std::function<void()> pump;  // runs between those tests (the GUI thread paints through it)
};

// HeadRequest, stoppable: Ok only for a 2xx answer that arrived whole before any stop.
RequestResult HeadCheck(const std::string& url, std::string& statusAndHeaders, const RequestControl& control);
// The feed fetch of the update checks, stoppable. Ok: text as FetchPageText gives it. Failed: text
// is FetchPageText's failure text. Aborted: text is empty; what was read is dropped. An error
// answer (4xx, 5xx) is a failed feed request: it is no feed.
RequestResult FetchFeed(const std::string& url, std::string& text, const RequestControl& control);
// As above; failure receives why it failed, in words a user understands (Shift_JIS).
RequestResult FetchFeed(const std::string& url, std::string& text, const RequestControl& control,
                        std::string& failure);

// Why a request failed, in words a user understands (Shift_JIS): the HTTP status with its meaning
// when the server answered with an error, else what went wrong (libcurl's code) on the way;
// seconds is how long it waited (for a time-out).
std::string RequestFailureText(int curlCode, long httpStatus, double seconds);

// QueryUrlStatus that can be stopped, with the pump run while it waits (the GUI thread's use).
bool QueryUrlStatus(const std::string& url, std::string& status, std::string& lastModified,
                    const RequestControl& control);

// Many requests of the update checks at once, driven on the calling thread through one libcurl
// multi handle. Connections stay open between requests and are reused for the next request to the
// same host (over HTTP/2, where a server offers it, the requests to one host share one
// connection); at most limits.maxTransfers of them are kept. Requests wait in the order they were
// added until their group (GroupOf: what a user sees as one service) has room: fewer than perGroup
// transfers running to it, and groupGapMs since the last request to it began. A group that answers
// 429 or 503 is slowed down: it waits as long as its Retry-After asks (at most a minute; without
// one, a back-off that doubles from 5 s), runs half as many transfers at once from then on, and the
// request is sent once more; a second such answer ends it as a failure. While the bodies held by
// running transfers exceed bodyBudgetBytes, no feed request starts. A request is configured exactly
// as its single form (HeadCheck, FetchFeed) and ends the same way.
class RequestPool {
public:
    enum class Kind { Head, Feed };
    struct Limits {
        int maxTransfers = 32;   // running at once, and connections kept open
        int perGroup = 6;        // running at once to one group: what a person's browser opens
        int groupGapMs = 20;     // least time between the starts of two requests to one group
        size_t bodyBudgetBytes = 256u << 20;
    };
    struct Finished {
        std::uint64_t tag = 0;
        Kind kind = Kind::Head;
        RequestResult result = RequestResult::Failed;
        // Head: the status line and header lines of an Ok answer, else empty. Feed: as FetchFeed's text.
        std::string text;
        std::string failure;  // Failed: why, as FetchFeed says it
    };

    // abort is the stop test of every request: asked before each body block and after every wait.
    RequestPool(Limits limits, AbortTest abort);
    ~RequestPool();
    RequestPool(const RequestPool&) = delete;
    RequestPool& operator=(const RequestPool&) = delete;

    void Add(std::uint64_t tag, Kind kind, const std::string& url);
    // Starts what may start, then waits at most waitMs for transfers to end; returns those that
    // ended (none when the time passed first). Once the stop test holds, every request still
    // queued or running ends at once as Aborted; what it read is dropped.
    std::vector<Finished> Perform(int waitMs);
    int Queued() const;
    int Running() const;
    // The host part of url: "scheme://name:port", lower case; empty when url has none.
    static std::string HostOf(const std::string& url);
    // The group whose limits a request to url counts against: the registrable domain of its host
    // (the name below the public suffix, by the suffixes of the domain registries: subdomains of
    // one blog service are one group, ports and schemes do not matter). A host that has none (an
    // IP address, a name without a known suffix, a public suffix itself) is its own group:
    // "name:port". Empty when url has no host.
    static std::string GroupOf(const std::string& url);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Limits that keep a dead or endless server from holding a request forever.
struct FetchLimits {
    long connectTimeoutSec = 15;
    long lowSpeedBytesPerSec = 1;  // below this for lowSpeedTimeSec: give up
    long lowSpeedTimeSec = 30;
    long totalTimeoutSec = 120;
    size_t maxBodyBytes = 32u << 20;
    // Names answered without asking DNS, as libcurl's "name:port:address" entries: tests and
    // benchmarks route many host names to servers on 127.0.0.1. Empty in the program.
    std::vector<std::string> resolve;
};
// Process-wide limits; tests shorten them.
FetchLimits& CurrentFetchLimits();

}  // namespace hanabira

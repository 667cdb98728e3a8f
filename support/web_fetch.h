#pragma once
// Every HTTP request of the program: page and feed GETs, the status query and the HEAD check.
#include <atomic>
#include <functional>
#include <string>

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
// is FetchPageText's failure text. Aborted: text is empty; what was read is dropped.
RequestResult FetchFeed(const std::string& url, std::string& text, const RequestControl& control);

// QueryUrlStatus that can be stopped, with the pump run while it waits (the GUI thread's use).
bool QueryUrlStatus(const std::string& url, std::string& status, std::string& lastModified,
                    const RequestControl& control);

// Limits that keep a dead or endless server from holding a request forever.
struct FetchLimits {
    long connectTimeoutSec = 15;
    long lowSpeedBytesPerSec = 1;   // below this for lowSpeedTimeSec: give up
    long lowSpeedTimeSec = 30;
    long totalTimeoutSec = 120;
    size_t maxBodyBytes = 32u << 20;
};
// Process-wide limits; tests shorten them.
FetchLimits& CurrentFetchLimits();

}  // namespace hanabira

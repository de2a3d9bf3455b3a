#pragma once
// A web transfer into a file that survives real networks: every wait is bounded, the HTTP
// status is read, redirections are followed by rule, passing faults are retried and an
// interrupted file is continued with a range request. The system's proxy settings apply.
#include <windows.h>
#include <urlmon.h>

#include <string>

namespace osh {

// A transfer that receives nothing for this long is ended; one that keeps receiving, however
// slowly, is never cut off.
constexpr DWORD kNoProgressLimitMilliseconds = 60 * 1000;

struct TransferOptions {
    // Continue from the bytes already in the file instead of starting over.
    bool resume = false;
    // Gets BEGINDOWNLOADDATA, DOWNLOADINGDATA and ENDDOWNLOADDATA with the address as text.
    IBindStatusCallback* progress = nullptr;
};

struct TransferResult {
    bool complete = false;
    // Bytes that were on disk before the last attempt were kept and appended to.
    bool resumed = false;
    // Why the transfer failed, in words ("HTTP 404", "time-out (...)", ...).
    std::string failure;
};

// Fetches url (http or https) into path. Never throws for a network or server fault: the result
// says why; each retry is logged as a warning. A refused certificate is never waved through.
TransferResult TransferToFile(const std::wstring& url, const std::wstring& path, const TransferOptions& options);

// The event whose signal ends a running transfer within a second (the engine's shutdown event);
// nullptr for none. The caller keeps the event alive while transfers may run.
void SetTransferCancelEvent(HANDLE event);
// That event (nullptr for none); other waits of the run end on it as well.
HANDLE TransferCancelEvent();

namespace transfertest {
// Narrow seams for in-process tests: a shorter no-progress limit and retry pauses divided by
// `divisor`. Zero restores the product's values.
void SetNoProgressLimit(DWORD milliseconds);
void SetPauseDivisor(DWORD divisor);
}  // namespace transfertest

}  // namespace osh

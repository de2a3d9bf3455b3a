#pragma once
// One HTTP GET on an asynchronous WinINet session. Every call that waits for the network waits
// here, together with the run's cancel event and a no-progress clock, so neither a silent server
// nor a closed window holds the caller: Wine's WinINet does not end a blocked call when its
// handle is closed from another thread, but an asynchronous call never blocks its caller.
#include <windows.h>
#include <wininet.h>

#include <string>

namespace osh {

struct RequestShared;

// Opens the session the requests for url (and its redirections) run on: the run's proxy
// setting (ProxySetting.h; the system's settings unless chosen otherwise; with a script, what
// it chooses for url), asynchronous, with the status callback that completes their waits.
// nullptr with GetLastError set on failure.
HINTERNET OpenAsyncSession(const std::wstring& url);

class InternetRequest {
public:
    enum Ended { Running, Stalled, Cancelled };
    // The largest read; the request's buffer has this size.
    static constexpr DWORD kBufferSize = 1024 * 1024;

    // A request for `object` on `connection`; valid() says whether WinINet opened it. A call
    // that waits longer than `noProgressLimit` without anything arriving, or while `cancel`
    // (may be nullptr) is signalled, ends the request.
    InternetRequest(HINTERNET connection, const std::wstring& object, DWORD flags, DWORD noProgressLimit,
                    HANDLE cancel);
    ~InternetRequest();
    InternetRequest(const InternetRequest&) = delete;
    InternetRequest& operator=(const InternetRequest&) = delete;

    bool valid() const { return request_ != nullptr; }
    HINTERNET get() const { return request_; }
    Ended ended() const { return ended_; }

    // Each returns false with GetLastError set when WinINet failed or the request ended early.
    bool Send(const std::wstring& headers);
    // Waits until part of the body has arrived; `available` 0 is its end.
    bool WaitForData(DWORD& available);
    // Reads `size` bytes (at most kBufferSize), fewer only at the end of the body; `data` points
    // into the request's buffer until the next call.
    bool Read(DWORD size, const char*& data, DWORD& read);

private:
    bool Finish(BOOL started);
    bool End(Ended why);
    bool Begin();

    RequestShared* shared_;
    HINTERNET request_ = nullptr;
    const DWORD limit_;
    const HANDLE cancel_;
    Ended ended_ = Running;
    ULONGLONG lastProgress_;
};

}  // namespace osh

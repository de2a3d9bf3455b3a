#include "osh/InternetRequest.h"

#include "osh/AutoProxy.h"
#include "osh/Exception.h"
#include "osh/Log.h"
#include "osh/ProxySetting.h"
#include "osh/ScopedHandle.h"

#include <atomic>
#include <vector>

namespace osh {

// What WinINet may still write after the caller has given up on a call: the completion, the
// read buffer and the counts. It lives until both the request object and WinINet's handle
// (its HANDLE_CLOSING notice) have let go, so a late completion never writes into freed memory.
struct RequestShared {
    std::atomic<LONG> references{2};
    ScopedHandle completed{CreateEventW(nullptr, FALSE, FALSE, nullptr)};
    // Written by WinINet's thread before `completed` is set.
    DWORD_PTR result = 0;
    DWORD error = 0;
    std::vector<char> buffer = std::vector<char>(InternetRequest::kBufferSize);
    DWORD read = 0;
    DWORD available = 0;
    std::wstring headers;

    void Release()
    {
        if (--references == 0) delete this;
    }
};

namespace {

constexpr DWORD kPollMilliseconds = 200;

void CALLBACK OnStatus(HINTERNET, DWORD_PTR context, DWORD status, LPVOID information, DWORD)
{
    auto* shared = reinterpret_cast<RequestShared*>(context);
    if (shared == nullptr) return;
    if (status == INTERNET_STATUS_REQUEST_COMPLETE) {
        const auto* outcome = static_cast<const INTERNET_ASYNC_RESULT*>(information);
        shared->result = outcome->dwResult;
        shared->error = outcome->dwError;
        SetEvent(shared->completed.get());
    } else if (status == INTERNET_STATUS_HANDLE_CLOSING) {
        shared->Release();
    }
}

// Turns the administrator's script into the Direct or Fixed setting it chooses for url; false
// with WinHTTP's error as the last error when the script cannot answer, so that no transfer
// goes around the proxy.
bool ChooseByScript(ProxySetting& proxy, const std::wstring& url)
{
    try {
        const ProxyChoice choice = AskAutoConfigScript(proxy.pacUrl, url);
        LogInformation(L"Proxy script \"" + proxy.pacUrl + L"\" sends \"" + url + L"\" " +
                       (choice.direct ? std::wstring(L"direct") : L"through " + choice.proxy));
        proxy.kind = choice.direct ? ProxyKind::Direct : ProxyKind::Fixed;
        proxy.server = choice.proxy;
        return true;
    } catch (const win::exception& error) {
        SetLastError(error.code());
        return false;
    }
}

}  // namespace

HINTERNET OpenAsyncSession(const std::wstring& url)
{
    ProxySetting proxy = GetProxySetting();
    if (proxy.kind == ProxyKind::Pac && !ChooseByScript(proxy, url)) return nullptr;
    const DWORD access = proxy.kind == ProxyKind::Direct  ? INTERNET_OPEN_TYPE_DIRECT
                         : proxy.kind == ProxyKind::Fixed ? INTERNET_OPEN_TYPE_PROXY
                                                          : INTERNET_OPEN_TYPE_PRECONFIG;
    HINTERNET session = InternetOpenW(L"Setup", access, proxy.kind == ProxyKind::Fixed ? proxy.server.c_str() : nullptr,
                                      nullptr, INTERNET_FLAG_ASYNC);
    if (session == nullptr) return nullptr;
    if (InternetSetStatusCallbackW(session, &OnStatus) == INTERNET_INVALID_STATUS_CALLBACK) {
        const DWORD error = GetLastError();
        InternetCloseHandle(session);
        SetLastError(error);
        return nullptr;
    }
    return session;
}

InternetRequest::InternetRequest(HINTERNET connection, const std::wstring& object, DWORD flags,
                                 DWORD noProgressLimit, HANDLE cancel)
    : shared_(new RequestShared), limit_(noProgressLimit), cancel_(cancel), lastProgress_(GetTickCount64())
{
    request_ = HttpOpenRequestW(connection, L"GET", object.c_str(), nullptr, nullptr, nullptr, flags,
                                reinterpret_cast<DWORD_PTR>(shared_));
    // Without a handle WinINet never sends HANDLE_CLOSING: its share goes now.
    if (request_ == nullptr || !shared_->completed) {
        const DWORD error = GetLastError();
        if (request_ != nullptr) InternetCloseHandle(request_);
        else shared_->Release();
        request_ = nullptr;
        SetLastError(error);
    }
}

InternetRequest::~InternetRequest()
{
    if (request_ != nullptr) InternetCloseHandle(request_);
    shared_->Release();
}

// Before every call: false when the run is being cancelled (a fast server may never leave a call
// pending, so the waits alone would not notice). No completion of an earlier call may answer the next.
bool InternetRequest::Begin()
{
    if (cancel_ != nullptr && WaitForSingleObject(cancel_, 0) == WAIT_OBJECT_0) return false;
    ResetEvent(shared_->completed.get());
    return true;
}

// Closing the handle lets WinINet end what it can; the caller stops waiting either way.
bool InternetRequest::End(Ended why)
{
    ended_ = why;
    InternetCloseHandle(request_);
    request_ = nullptr;
    SetLastError(why == Cancelled ? ERROR_INTERNET_OPERATION_CANCELLED : ERROR_INTERNET_TIMEOUT);
    return false;
}

// Completes a call that WinINet may have left pending; call it straight after the call.
bool InternetRequest::Finish(BOOL started)
{
    const DWORD error = started ? ERROR_SUCCESS : GetLastError();
    if (!started && error != ERROR_IO_PENDING) return false;
    if (!started) {
        const HANDLE waits[2] = {shared_->completed.get(), cancel_};
        const DWORD count = cancel_ != nullptr ? 2 : 1;
        for (;;) {
            const DWORD woken = WaitForMultipleObjects(count, waits, FALSE, kPollMilliseconds);
            if (woken == WAIT_OBJECT_0) break;
            if (woken == WAIT_OBJECT_0 + 1) return End(Cancelled);
            if (GetTickCount64() - lastProgress_ > limit_) return End(Stalled);
        }
        if (shared_->result == FALSE) {
            SetLastError(shared_->error);
            return false;
        }
    }
    lastProgress_ = GetTickCount64();
    return true;
}

bool InternetRequest::Send(const std::wstring& headers)
{
    if (!Begin()) return End(Cancelled);
    lastProgress_ = GetTickCount64();
    shared_->headers = headers;
    const wchar_t* text = shared_->headers.empty() ? nullptr : shared_->headers.c_str();
    return Finish(HttpSendRequestW(request_, text, static_cast<DWORD>(shared_->headers.size()), nullptr, 0));
}

bool InternetRequest::WaitForData(DWORD& available)
{
    for (;;) {
        if (!Begin()) return End(Cancelled);
        shared_->available = 0;
        const BOOL answered = InternetQueryDataAvailable(request_, &shared_->available, 0, 0);
        if (answered) {
            available = shared_->available;
            lastProgress_ = GetTickCount64();
            return true;
        }
        // Once something has arrived, asking again answers at once with its amount.
        if (!Finish(answered)) return false;
    }
}

bool InternetRequest::Read(DWORD size, const char*& data, DWORD& read)
{
    if (!Begin()) return End(Cancelled);
    shared_->read = 0;
    const DWORD wanted = size < kBufferSize ? size : kBufferSize;
    if (!Finish(InternetReadFile(request_, shared_->buffer.data(), wanted, &shared_->read))) return false;
    data = shared_->buffer.data();
    read = shared_->read;
    return true;
}

}  // namespace osh

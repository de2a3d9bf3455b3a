#include "osh/HttpTransfer.h"

#include "osh/DownloadFailure.h"
#include "osh/InternetRequest.h"
#include "osh/Log.h"
#include "osh/ScopedHandle.h"
#include "osh/Text.h"
#include "osh/TransferPolicy.h"

#include <wininet.h>

#include <atomic>
#include <cstdint>
#include <set>
#include <vector>

namespace osh {

namespace {

struct InternetHandleTraits {
    using handle_type = HINTERNET;
    static HINTERNET Invalid() { return nullptr; }
    static bool IsValid(HINTERNET h) { return h != nullptr; }
    static bool Close(HINTERNET h) { return InternetCloseHandle(h) != FALSE; }
};
using ScopedInternet = Scoped<InternetHandleTraits>;

std::atomic<HANDLE> g_cancelEvent{nullptr};
std::atomic<DWORD> g_noProgressLimit{0};
std::atomic<DWORD> g_pauseDivisor{0};

DWORD NoProgressLimit()
{
    const DWORD limit = g_noProgressLimit.load();
    return limit != 0 ? limit : kNoProgressLimitMilliseconds;
}

// Waits for the cancel event at most `milliseconds`; true when the run is being cancelled.
bool CancelledWithin(DWORD milliseconds)
{
    HANDLE cancel = g_cancelEvent.load();
    if (cancel == nullptr) {
        Sleep(milliseconds);
        return false;
    }
    return WaitForSingleObject(cancel, milliseconds) == WAIT_OBJECT_0;
}

const char* const kCancelled = "the transfer was cancelled";

// Set on the request itself, where every implementation honours them: a moment later than
// the request's own no-progress clock, so WinINet's thread is freed too after a silent server.
void SetTimeouts(HINTERNET request)
{
    DWORD limit = NoProgressLimit() + 1000;
    for (DWORD option : {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT, INTERNET_OPTION_RECEIVE_TIMEOUT})
        InternetSetOptionW(request, option, &limit, sizeof(limit));
}

std::string TimeOutReason()
{
    return "time-out (no data from the server for " + std::to_string(NoProgressLimit() / 1000) + " s)";
}

struct Attempt {
    enum Kind { Done, Retry, Final, AskWhole, Redirect } kind = Final;
    std::string reason;
    DWORD retryAfter = 0;
    bool appended = false;
    std::wstring location;
};

Attempt Failed(Attempt::Kind kind, const std::string& reason)
{
    Attempt attempt;
    attempt.kind = kind;
    attempt.reason = reason;
    return attempt;
}

// The failure after a WinINet call returned false; GetLastError is read first.
Attempt CallFailed(const InternetRequest& request)
{
    const DWORD error = GetLastError();
    if (request.ended() == InternetRequest::Cancelled) return Failed(Attempt::Final, kCancelled);
    // A server that went silent for the whole limit is not asked again: the wait stays bounded.
    if (request.ended() == InternetRequest::Stalled || error == ERROR_INTERNET_TIMEOUT)
        return Failed(Attempt::Final, TimeOutReason());
    return Failed(IsRetryableError(error) ? Attempt::Retry : Attempt::Final, InternetFailureReason(error));
}

std::wstring QueryText(HINTERNET request, DWORD info)
{
    std::vector<wchar_t> buffer(256);
    for (;;) {
        DWORD bytes = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
        DWORD index = 0;
        if (HttpQueryInfoW(request, info, buffer.data(), &bytes, &index)) return std::wstring(buffer.data());
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return std::wstring();
        buffer.resize(bytes / sizeof(wchar_t) + 1);
    }
}

bool QueryNumber(HINTERNET request, DWORD info, std::uint64_t& value)
{
    const std::wstring text = QueryText(request, info);
    if (text.empty()) return false;
    value = 0;
    for (wchar_t c : text) {
        if (c < L'0' || c > L'9') return false;
        value = value * 10 + static_cast<std::uint64_t>(c - L'0');
    }
    return true;
}

struct Target {
    std::wstring host;
    std::wstring object;
    INTERNET_PORT port = 0;
    bool secure = false;
};

bool Crack(const std::wstring& url, Target& target)
{
    URL_COMPONENTSW parts{};
    parts.dwStructSize = sizeof(parts);
    parts.dwHostNameLength = 1;
    parts.dwUrlPathLength = 1;
    parts.dwExtraInfoLength = 1;
    if (!InternetCrackUrlW(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts)) return false;
    if (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS) return false;
    target.host.assign(parts.lpszHostName, parts.dwHostNameLength);
    target.object.assign(parts.lpszUrlPath, parts.dwUrlPathLength);
    if (parts.lpszExtraInfo != nullptr) target.object.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    if (target.object.empty()) target.object = L"/";
    target.port = parts.nPort;
    target.secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
    return true;
}

std::uint64_t FileSizeOf(const std::wstring& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return 0;
    return (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

void Report(IBindStatusCallback* progress, std::uint64_t done, std::uint64_t total, ULONG status, const std::wstring& url)
{
    if (progress != nullptr)
        progress->OnProgress(static_cast<ULONG>(done), static_cast<ULONG>(total), status, url.c_str());
}

// Opens the file for this answer: appended to at offset, or written from its start.
ScopedFile OpenTarget(const std::wstring& path, bool append, std::uint64_t offset)
{
    ScopedFile file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, append ? OPEN_ALWAYS : CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file && append) {
        LARGE_INTEGER at;
        at.QuadPart = static_cast<LONGLONG>(offset);
        if (!SetFilePointerEx(file.get(), at, nullptr, FILE_BEGIN) || !SetEndOfFile(file.get())) file.reset();
    }
    return file;
}

// Writes one piece of the body; false with the reason when the drive refused it.
bool WritePiece(HANDLE file, const char* data, DWORD size, Attempt& failed)
{
    DWORD written = 0;
    if (WriteFile(file, data, size, &written, nullptr) && written == size) return true;
    const DWORD error = GetLastError();
    // A short write without an error code is a drive that filled up.
    failed = Failed(Attempt::Final, InternetFailureReason(error != ERROR_SUCCESS ? error : ERROR_DISK_FULL));
    return false;
}

// Reads the body into the file until the server ends it; a short body counts as a dropped
// connection so that a retry can continue it.
Attempt Receive(InternetRequest& request, const std::wstring& url, const std::wstring& path, bool append,
                std::uint64_t offset, IBindStatusCallback* progress)
{
    std::uint64_t length = 0;
    const bool lengthKnown = QueryNumber(request.get(), HTTP_QUERY_CONTENT_LENGTH, length);
    ScopedFile file = OpenTarget(path, append, offset);
    if (!file) return Failed(Attempt::Final, InternetFailureReason(GetLastError()));
    const std::uint64_t start = append ? offset : 0;
    const std::uint64_t total = lengthKnown ? start + length : 0;
    std::uint64_t received = 0, reported = 0;
    Report(progress, start, total, BINDSTATUS_BEGINDOWNLOADDATA, url);
    DWORD size = 0, took = 0;
    for (;;) {
        // Waiting for the first piece is what shows a silent server; the read then takes what
        // has arrived, or more while the server keeps ahead of the reads.
        DWORD available = 0;
        if (!request.WaitForData(available)) {
            Attempt failed = CallFailed(request);
            failed.appended = append;
            return failed;
        }
        if (available == 0) break;
        size = NextReadSize(size, took, available);
        const ULONGLONG began = GetTickCount64();
        const char* data = nullptr;
        DWORD read = 0;
        if (!request.Read(size, data, read)) {
            Attempt failed = CallFailed(request);
            failed.appended = append;
            return failed;
        }
        took = static_cast<DWORD>(GetTickCount64() - began);
        if (read == 0) break;
        Attempt refused;
        if (!WritePiece(file.get(), data, read, refused)) return refused;
        received += read;
        if (received - reported >= 256 * 1024) {
            reported = received;
            Report(progress, start + received, total, BINDSTATUS_DOWNLOADINGDATA, url);
        }
    }
    if (lengthKnown && received < length) {
        Attempt cut = Failed(Attempt::Retry, "the connection was dropped after " + std::to_string(received) +
                                                 " of " + std::to_string(length) + " bytes");
        cut.appended = append;
        return cut;
    }
    Report(progress, start + received, total, BINDSTATUS_ENDDOWNLOADDATA, url);
    Attempt done;
    done.kind = Attempt::Done;
    done.appended = append && offset > 0;
    return done;
}

// One request to one address: the answer's status decides what follows.
Attempt Ask(HINTERNET session, const std::wstring& url, const std::wstring& fetched, const std::wstring& path,
            std::uint64_t offset, IBindStatusCallback* progress)
{
    Target target;
    if (!Crack(url, target)) return Failed(Attempt::Final, InternetFailureReason(ERROR_INTERNET_INVALID_URL));
    ScopedInternet connection(InternetConnectW(session, target.host.c_str(), target.port, nullptr, nullptr,
                                               INTERNET_SERVICE_HTTP, 0, 0));
    if (!connection) return Failed(Attempt::Final, InternetFailureReason(GetLastError()));
    // Redirections are judged here, never followed by the system; nothing comes from a cache.
    DWORD flags = INTERNET_FLAG_NO_AUTO_REDIRECT | INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE |
                  INTERNET_FLAG_PRAGMA_NOCACHE | INTERNET_FLAG_NO_COOKIES | INTERNET_FLAG_NO_UI;
    if (target.secure) flags |= INTERNET_FLAG_SECURE;
    InternetRequest request(connection.get(), target.object, flags, NoProgressLimit(), g_cancelEvent.load());
    if (!request.valid()) return Failed(Attempt::Final, InternetFailureReason(GetLastError()));
    SetTimeouts(request.get());
    const std::wstring range = offset > 0 ? L"Range: bytes=" + std::to_wstring(offset) + L"-\r\n" : std::wstring();
    if (!request.Send(range)) return CallFailed(request);
    std::uint64_t status = 0;
    if (!QueryNumber(request.get(), HTTP_QUERY_STATUS_CODE, status)) return CallFailed(request);
    const std::string http = "HTTP " + std::to_string(status);
    switch (JudgeStatus(static_cast<DWORD>(status))) {
    case StatusVerdict::Redirect: {
        Attempt redirect = Failed(Attempt::Redirect, http);
        redirect.location = QueryText(request.get(), HTTP_QUERY_LOCATION);
        return redirect;
    }
    case StatusVerdict::Retry: {
        Attempt retry = Failed(Attempt::Retry, http);
        retry.retryAfter = ParseRetryAfter(QueryText(request.get(), HTTP_QUERY_RETRY_AFTER));
        return retry;
    }
    case StatusVerdict::Fail:
        // The bytes on disk may already be the whole file, or belong to another one.
        return Failed(status == 416 && offset > 0 ? Attempt::AskWhole : Attempt::Final, http);
    case StatusVerdict::Success:
        break;
    }
    std::uint64_t rangeStart = 0;
    ParseContentRangeStart(QueryText(request.get(), HTTP_QUERY_CONTENT_RANGE), rangeStart);
    const ResumeVerdict resume = JudgeResume(offset, static_cast<DWORD>(status), rangeStart);
    if (resume == ResumeVerdict::AskWhole) return Failed(Attempt::AskWhole, http + " for another range");
    return Receive(request, fetched, path, resume == ResumeVerdict::Append, offset, progress);
}

// Follows redirections by rule from the first address.
Attempt Fetch(HINTERNET session, const std::wstring& url, const std::wstring& path, std::uint64_t offset,
              IBindStatusCallback* progress)
{
    std::wstring current = url;
    std::set<std::wstring> visited{url};
    for (int followed = 0;; ++followed) {
        Attempt attempt = Ask(session, current, url, path, offset, progress);
        if (attempt.kind != Attempt::Redirect) return attempt;
        std::vector<wchar_t> combined(4096);
        DWORD size = static_cast<DWORD>(combined.size());
        if (attempt.location.empty() ||
            !InternetCombineUrlW(current.c_str(), attempt.location.c_str(), combined.data(), &size, ICU_NO_ENCODE))
            return Failed(Attempt::Final, attempt.reason + " without a usable address");
        const std::wstring next(combined.data());
        const std::string refusal = RedirectRefusal(current, next, followed, visited);
        if (!refusal.empty()) return Failed(Attempt::Final, refusal + " (to \"" + Narrow(next) + "\")");
        LogInformation(L"Redirected from \"" + current + L"\" to \"" + next + L"\"");
        visited.insert(next);
        current = next;
    }
}

}  // namespace

void SetTransferCancelEvent(HANDLE event) { g_cancelEvent.store(event); }

HANDLE TransferCancelEvent() { return g_cancelEvent.load(); }

namespace transfertest {
void SetNoProgressLimit(DWORD milliseconds) { g_noProgressLimit.store(milliseconds); }
void SetPauseDivisor(DWORD divisor) { g_pauseDivisor.store(divisor); }
}  // namespace transfertest

TransferResult TransferToFile(const std::wstring& url, const std::wstring& path, const TransferOptions& options)
{
    TransferResult result;
    ScopedInternet session(OpenAsyncSession(url));
    if (!session) {
        result.failure = InternetFailureReason(GetLastError());
        return result;
    }
    bool whole = !options.resume;
    for (int retry = 0;;) {
        const std::uint64_t offset = whole ? 0 : FileSizeOf(path);
        const Attempt attempt = Fetch(session.get(), url, path, offset, options.progress);
        result.resumed |= attempt.appended;
        if (attempt.kind == Attempt::Done) {
            result.complete = true;
            return result;
        }
        if (attempt.kind == Attempt::AskWhole) {
            LogWarning(TransferFailureLine(url, attempt.reason) + "; asking for the whole file");
            whole = true;
            result.resumed = false;
            continue;
        }
        if (attempt.kind == Attempt::Final || retry == kMaxRetries) {
            result.failure = attempt.reason;
            return result;
        }
        ++retry;
        // Only a resumable transfer keeps what it has; the others start over.
        whole = !options.resume;
        const DWORD pause = RetryPauseMilliseconds(retry, attempt.retryAfter);
        LogWarning(TransferFailureLine(url, attempt.reason) + "; retry " + std::to_string(retry) + " of " +
                   std::to_string(kMaxRetries) + " in " + std::to_string(pause / 1000) + " s");
        const DWORD divisor = g_pauseDivisor.load();
        if (CancelledWithin(pause / (divisor != 0 ? divisor : 1))) {
            result.failure = kCancelled;
            return result;
        }
    }
}

}  // namespace osh

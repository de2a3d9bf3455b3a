#pragma once
// The decisions of a web transfer, kept apart from the transfer itself so that a table
// covers them: which answers succeed, which are retried and after what pause, which
// redirections are followed and what a resumed request's answer means for the file.
#include <windows.h>

#include <cstdint>
#include <set>
#include <string>

namespace osh {

// Redirections followed for one address before the transfer gives up.
constexpr int kMaxRedirects = 5;
// Further attempts after the first one failed in a way a retry can cure.
constexpr int kMaxRetries = 3;
// The longest pause a server's Retry-After can ask for; longer requests are cut to this.
constexpr DWORD kRetryAfterCapSeconds = 60;

enum class StatusVerdict { Success, Redirect, Retry, Fail };

// 200 and 206 succeed; 301, 302, 303, 307 and 308 redirect; 5xx is retried; everything else fails.
StatusVerdict JudgeStatus(DWORD status);

// True for a WinINet error that a second attempt may cure: a dropped connection or a time-out.
// Refused connections, unknown names and refused certificates are not retried.
bool IsRetryableError(DWORD internetError);

// Pause before retry number `retry` (1 for the first): 1 s, 2 s, 4 s; a server's Retry-After
// (in seconds, retryAfterSeconds > 0) takes the place of the growing pause, capped at 60 s.
DWORD RetryPauseMilliseconds(int retry, DWORD retryAfterSeconds);

// Seconds of a Retry-After header given as a number; 0 for a date, garbage or nothing.
DWORD ParseRetryAfter(const std::wstring& value);

// Why the redirection from `from` to `to` is not followed, or "" when it is. `followed` counts
// the redirections already taken; `visited` holds every address asked so far.
std::string RedirectRefusal(const std::wstring& from, const std::wstring& to, int followed,
                            const std::set<std::wstring>& visited);

enum class ResumeVerdict { Append, StartOver, AskWhole };

// What a successful answer means for the bytes already on disk. Without an offset, or when the
// server sent the whole file (200), the file is written from its start; a 206 whose range
// starts at the offset is appended; a 206 for another range makes the whole file be asked for.
ResumeVerdict JudgeResume(std::uint64_t offset, DWORD status, std::uint64_t rangeStart);

// The largest read of a transfer, and how long a read may take to count as quick.
constexpr DWORD kMaxReadBytes = 1024 * 1024;
constexpr DWORD kQuickReadMilliseconds = 50;

// Bytes to ask for in the next read. A read waits until all of them have arrived, so the size
// grows (doubling up to kMaxReadBytes) only while the previous read was quick, and otherwise
// falls back to what has already arrived (`available`, never less, at least 1): a slow server
// then still shows progress with every piece it sends.
DWORD NextReadSize(DWORD previous, DWORD previousMilliseconds, DWORD available);

// The first byte of a Content-Range value ("bytes 100-199/200" gives 100); false when unreadable.
bool ParseContentRangeStart(const std::wstring& value, std::uint64_t& start);

}  // namespace osh

#include "engine/RunLock.h"

#include "engine/GateSettings.h"
#include "osh/Exception.h"
#include "osh/Log.h"
#include "osh/ProcessTermination.h"
#include "osh/ScopedHandle.h"
#include "osh/Text.h"

#include <sddl.h>

#include <cstdint>
#include <exception>
#include <set>
#include <utility>

namespace ziz {

const wchar_t kRunLockName[] = L"Global\\Norlo5-Setup-Run";
const wchar_t kRunLockDescriptor[] = L"D:P(A;;GA;;;SY)(A;;GA;;;BA)(A;;RC;;;OW)";
const wchar_t kRunLockObjectName[] = L"\\BaseNamedObjects\\Norlo5-Setup-Run";

namespace {

const wchar_t kClaimPrefix[] = L"/runlock=";
constexpr size_t kClaimPrefixLength = sizeof(kClaimPrefix) / sizeof(kClaimPrefix[0]) - 1;

// The lock this process holds, made or joined; the process's lifetime at most.
osh::ScopedHandle g_lock;

bool ReadDecimal(const std::wstring& text, unsigned long long& value)
{
    if (text.empty() || text.size() > 19) return false;
    value = 0;
    for (const wchar_t c : text) {
        if (c < L'0' || c > L'9') return false;
        value = value * 10 + static_cast<unsigned long long>(c - L'0');
    }
    return value != 0;
}

// The name the object manager gives the object behind a handle; empty when it will not say.
std::wstring ObjectName(HANDLE handle)
{
    struct UnicodeText {
        USHORT length;
        USHORT maximumLength;
        PWSTR buffer;
    };
    using QueryObject = LONG(WINAPI*)(HANDLE, int, PVOID, ULONG, PULONG);
    constexpr int kObjectNameInformation = 1;
    const auto query = reinterpret_cast<QueryObject>(
        reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryObject")));
    if (query == nullptr) return std::wstring();
    alignas(8) unsigned char buffer[1024] = {};
    ULONG returned = 0;
    if (query(handle, kObjectNameInformation, buffer, sizeof(buffer) - sizeof(wchar_t), &returned) != 0)
        return std::wstring();
    const auto* name = reinterpret_cast<const UnicodeText*>(buffer);
    if (name->buffer == nullptr) return std::wstring();
    return std::wstring(name->buffer, name->length / sizeof(wchar_t));
}

// Empty when the claim holds and lock receives the duplicated handle; else why not.
std::wstring TakeClaimedHandle(const LockClaim& claim, osh::ScopedHandle& lock)
{
    const std::set<DWORD> callers = osh::ParentChain(GetCurrentProcessId(), osh::RunningProcesses());
    if (callers.count(claim.holderId) == 0) return L"process " + std::to_wstring(claim.holderId) + L" did not start this run";
    osh::ScopedHandle holder(OpenProcess(PROCESS_DUP_HANDLE, FALSE, claim.holderId));
    if (!holder) {
        const DWORD error = GetLastError();
        return L"process " + std::to_wstring(claim.holderId) + L" cannot be opened, error " + std::to_wstring(error);
    }
    HANDLE duplicate = nullptr;
    const HANDLE claimed = reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(claim.handle));
    if (!DuplicateHandle(holder.get(), claimed, GetCurrentProcess(), &duplicate, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
        const DWORD error = GetLastError();
        return L"its handle cannot be taken, error " + std::to_wstring(error);
    }
    osh::ScopedHandle taken(duplicate);
    const std::wstring name = ObjectName(taken.get());
    if (name != kRunLockObjectName) return L"its handle is not the lock but \"" + name + L"\"";
    lock = std::move(taken);
    return std::wstring();
}

// True when a claim among the arguments holds; a claim that does not is logged.
bool JoinClaimedLock(const std::vector<std::wstring>& arguments)
{
    for (size_t i = 1; i < arguments.size(); ++i) {
        if (!IsLockClaimSwitch(arguments[i])) continue;
        LockClaim claim;
        std::wstring why = L"not a process and a handle";
        if (ParseLockClaim(arguments[i], claim)) {
            osh::ScopedHandle lock;
            why = TakeClaimedHandle(claim, lock);
            if (why.empty()) {
                g_lock = std::move(lock);
                osh::LogInformation(L"Working under the setup lock of process " + std::to_wstring(claim.holderId));
                return true;
            }
        }
        osh::LogWarning(L"Ignoring " + arguments[i] + L": " + why);
    }
    return false;
}

// Made here: true. Another run has it: false. Throws win::exception when it cannot be made.
bool TryCreateLock()
{
    osh::ScopedLocalMemory descriptor;
    PSECURITY_DESCRIPTOR raw = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kRunLockDescriptor, SDDL_REVISION_1, &raw, nullptr))
        throw win::exception(GetLastError(), "ConvertStringSecurityDescriptorToSecurityDescriptor");
    descriptor.reset(raw);
    SECURITY_ATTRIBUTES attributes{sizeof(attributes), raw, FALSE};
    osh::ScopedHandle lock(CreateEventW(&attributes, TRUE, FALSE, kRunLockName));
    const DWORD error = GetLastError();
    switch (LookAtLockCreation(static_cast<bool>(lock), error)) {
    case LockLook::Taken: g_lock = std::move(lock); return true;
    case LockLook::HeldElsewhere: return false;
    case LockLook::Broken: break;
    }
    throw win::exception(error, "CreateEvent(" + osh::Narrow(kRunLockName) + ")");
}

}  // namespace

bool IsLockClaimSwitch(const std::wstring& element)
{
    return element.size() >= kClaimPrefixLength &&
           osh::EqualsIgnoreAsciiCase(element.substr(0, kClaimPrefixLength), kClaimPrefix);
}

bool ParseLockClaim(const std::wstring& element, LockClaim& claim)
{
    if (!IsLockClaimSwitch(element)) return false;
    const std::wstring value = element.substr(kClaimPrefixLength);
    const size_t dot = value.find(L'.');
    unsigned long long holder = 0;
    unsigned long long handle = 0;
    if (dot == std::wstring::npos || !ReadDecimal(value.substr(0, dot), holder) ||
        !ReadDecimal(value.substr(dot + 1), handle) || holder > MAXDWORD ||
        static_cast<unsigned long long>(static_cast<std::uintptr_t>(handle)) != handle)
        return false;
    claim.holderId = static_cast<DWORD>(holder);
    claim.handle = handle;
    return true;
}

std::wstring LockClaimSwitch(const LockClaim& claim)
{
    return kClaimPrefix + std::to_wstring(claim.holderId) + L"." + std::to_wstring(claim.handle);
}

LockLook LookAtLockCreation(bool gotHandle, DWORD error)
{
    if (gotHandle) return error == ERROR_ALREADY_EXISTS ? LockLook::HeldElsewhere : LockLook::Taken;
    // Not allowed to open it: it exists, made by another run.
    return error == ERROR_ACCESS_DENIED ? LockLook::HeldElsewhere : LockLook::Broken;
}

LockOutcome AcquireRunLock(const std::vector<std::wstring>& arguments, ULONGLONG boundMs, HANDLE cancel,
                           const std::function<void()>& beforeWaiting)
{
    if (g_lock) return LockOutcome::Taken;
    if (JoinClaimedLock(arguments)) return LockOutcome::Joined;
    try {
        switch (WaitBounded(TryCreateLock, boundMs, cancel, beforeWaiting)) {
        case WaitStep::Go: return LockOutcome::Taken;
        case WaitStep::Stop: return LockOutcome::Cancelled;
        case WaitStep::GiveUp:
        case WaitStep::Wait: break;
        }
        return LockOutcome::Busy;
    } catch (const std::exception& error) {
        osh::LogError(std::string("The setup lock cannot be made: ") + error.what());
        return LockOutcome::Failed;
    }
}

bool PassRunLock(Worker& worker, HANDLE cancel)
{
    std::vector<std::wstring> arguments;
    worker.GetArguments(arguments);
    const ULONGLONG boundMs = ReadGateSettings().setupWaitMs;
    const std::wstring bound = std::to_wstring(boundMs / 1000) + L" seconds";
    const auto sayWaiting = [&]() {
        osh::LogInformation(L"Waiting for another setup to end (up to " + bound + L")");
        worker.Notify(StatusWaitingForSetup);
    };
    switch (AcquireRunLock(arguments, boundMs, cancel, sayWaiting)) {
    case LockOutcome::Taken:
    case LockOutcome::Joined: return true;
    case LockOutcome::Cancelled:
        osh::LogWarning("Stopped waiting for the other setup: the run is being closed");
        return false;
    case LockOutcome::Busy: {
        const std::wstring reason =
            L"Another setup is still running after " + bound + L"; nothing was changed, try again later";
        osh::LogError(reason);
        worker.Report().SetHoldBack(HoldBack::Busy);
        worker.Report().SetFailureReason(osh::Narrow(reason));
        break;
    }
    case LockOutcome::Failed: break;
    }
    worker.Notify(StatusFailed);
    return false;
}

void ReleaseRunLock() { g_lock.reset(); }

std::vector<std::wstring> WithOwnLockClaim(std::vector<std::wstring> arguments)
{
    std::vector<std::wstring> passed;
    for (size_t i = 0; i < arguments.size(); ++i) {
        if (i == 0 || !IsLockClaimSwitch(arguments[i])) passed.push_back(std::move(arguments[i]));
    }
    if (g_lock) {
        LockClaim own;
        own.holderId = GetCurrentProcessId();
        own.handle = reinterpret_cast<std::uintptr_t>(g_lock.get());
        passed.push_back(LockClaimSwitch(own));
    }
    return passed;
}

}  // namespace ziz

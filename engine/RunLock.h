#pragma once
// One run at a time per machine. A run holds the machine-wide lock, a named event in the
// global namespace, from start-up to its end; the one that creates the object has it, and
// the object lives while any process keeps a handle to it. Only SYSTEM and Administrators
// may open or change it, so a standard user's process has a handle only when it made the
// object itself.
//
// The bootstrapper a holder starts to do the work (a newer one, or itself elevated) works
// under the holder's lock: the holder adds "/runlock=<its process id>.<its handle>", and
// the child takes a duplicate of that handle out of the holder after checking that the
// holder started it and that the handle is the lock. A switch without the handle behind
// it gives nothing: the child then waits for the lock like any other run.
#include <windows.h>

#include "engine/BoundedWait.h"
#include "engine/Worker.h"

#include <functional>
#include <string>
#include <vector>

namespace ziz {

// "Global\Norlo5-Setup-Run".
extern const wchar_t kRunLockName[];
// SYSTEM and Administrators everything; the owner (a creator without elevation) only reads it.
extern const wchar_t kRunLockDescriptor[];
// The name the object's handle reports ("\BaseNamedObjects\Norlo5-Setup-Run").
extern const wchar_t kRunLockObjectName[];

struct LockClaim {
    DWORD holderId = 0;
    unsigned long long handle = 0;
};

// True for an element that is a lock switch ("/runlock=", letter case aside).
bool IsLockClaimSwitch(const std::wstring& element);

// "/runlock=<process id>.<handle>", both decimal and not zero; false for anything else.
bool ParseLockClaim(const std::wstring& element, LockClaim& claim);

// The switch for a claim.
std::wstring LockClaimSwitch(const LockClaim& claim);

// How a try to create the lock went: CreateEventW's handle and its last error.
enum class LockLook { Taken, HeldElsewhere, Broken };
LockLook LookAtLockCreation(bool gotHandle, DWORD error);

enum class LockOutcome {
    Taken,      // this run made the lock
    Joined,     // this run works under the lock of the process that started it
    Busy,       // another run kept it past the bound
    Cancelled,  // the run was closed while it waited
    Failed      // the lock could not be made (logged)
};

// Joins the lock named by a claim among arguments when the claim holds, else takes the
// lock, waiting at most boundMs (polling; cancel ends the wait); beforeWaiting runs once
// when the wait begins. The lock is held until ReleaseRunLock or the process ends.
LockOutcome AcquireRunLock(const std::vector<std::wstring>& arguments, ULONGLONG boundMs, HANDLE cancel,
                           const std::function<void()>& beforeWaiting);

// The gate at the start of a run: takes or joins the lock, waiting at most the vendor
// setting's bound with a line and the window's waiting text. False when the run ends here:
// "busy" (recorded, StatusFailed notified), closed while it waited, or no lock at all.
bool PassRunLock(Worker& worker, HANDLE cancel);

// Lets the lock go (the end of the engine's run).
void ReleaseRunLock();

// The arguments for a bootstrapper this run starts to do its work: claims it was given are
// dropped, and this process's own claim is added when it holds the lock.
std::vector<std::wstring> WithOwnLockClaim(std::vector<std::wstring> arguments);

}  // namespace ziz

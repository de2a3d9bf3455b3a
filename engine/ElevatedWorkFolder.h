#pragma once
// The folders one run of the program makes for its temporary files, and their removal at
// its end. An elevated run keeps what it writes and then runs or reads back (the hook
// script, installer logs, copies of programs, the working directory of the commands it
// starts) in a folder of its own below the system's temporary folder that only
// administrators can change; a run without elevation uses the user's temporary folder.
#include <string>

namespace ziz {

// The one question whether this process is elevated (osh::QueryElevation, which tests
// answer through its seam).
bool IsElevatedRun();

// "<Windows>\Temp", where the admin-only folders are made; empty when unknown.
std::wstring SystemTempFolder();

// The elevated run's work folder, "<Windows>\Temp\Norlo-<GUID>", made on the first call with
// the admin-only descriptor. Empty without elevation, or when it cannot be made (logged).
std::wstring ElevatedWorkFolder();

// The admin-only folder inside the work folder that holds the components an elevated run
// runs: copied from the setup files or downloaded there, checked there, and run from there,
// where no standard user can plant anything beside them. Empty without elevation, or when
// it cannot be made (logged).
std::wstring ElevatedComponentFolder();

// A new admin-only folder "<Windows>\Temp\Norlo-Restart-<GUID>" that outlives the run, for a
// copy of the program that the next logon starts with an administrator's rights. Empty when
// it cannot be made (logged).
std::wstring MakeLastingAdminOnlyFolder();

// A new uniquely named folder for temporary files: below the work folder in an elevated
// run, else below the user's temporary folder. Remembered for RemoveRunFolders.
bool CreateRunTempFolder(std::wstring& folder);

// Where an elevated run writes what the configuration places in `named` (the setup log,
// the hook's output): `named` when it passes the folder checks (and lies inside `within`,
// when given), else the work folder, and then `refusal` holds the warning line naming the
// refused path. A missing `named` is made here, without following a link, each new folder
// with the admin-only descriptor, so standard users can read what the run writes there but
// not change or delete it. A run without elevation always gets `named`. Empty when the
// elevated run has no safe place at all.
std::wstring SafeWriteFolder(const std::string& what, const std::wstring& named, std::string& refusal,
                             const std::wstring& within = std::wstring());

// The setup log was sent to the work folder: its file stays when the rest is removed.
void KeepInWorkFolder(const std::wstring& fileName);

// Removes every folder the run made, the work folder last, without following any link,
// after waiting up to waitMs while a program the run started still works in it. Safe to
// call more than once (a work folder that could not be removed is tried again); a later
// CreateRunTempFolder starts afresh.
void RemoveRunFolders(unsigned long waitMs = 5000);

}  // namespace ziz

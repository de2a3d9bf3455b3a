#pragma once
// Which files an appliance medium must carry and what a refresh does with each: keep the
// copy already there (the record vouches for it, or its digests match), or write it; and
// whether the medium can take what is to be written. Reads the medium, writes nothing.
#include "engine/MediumRecord.h"

#include <string>
#include <vector>

namespace ziz {

// One file the medium must carry: where it comes from and what it must be.
struct MediumEntry {
    std::wstring Source;
    MediumFile Expected;
    MediumAction Action = MediumAction::Copy;
    MediumFile Recorded;  // set once the file on the medium is known to be right
};

// Fills in what each file must be (a file without digests of its own: its source's) and
// whether it is kept or written; reads the record and the files it does not vouch for.
// Throws std::runtime_error "Could not copy ..." for a source that cannot be read.
void PlanRefresh(std::vector<MediumEntry>& entries, const std::wstring& setupFiles);

// Fails before the first byte is written when a file is too large for the medium's file
// system or the files still to write and the margin do not fit (std::runtime_error with the
// line naming the target). A volume the system says nothing about is not held against the run.
void RequireRoomOnMedium(const std::vector<MediumEntry>& entries, const std::wstring& target);

}  // namespace ziz

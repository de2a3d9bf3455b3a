#pragma once
// A component file held open from its check until the command that uses it has ended.
// The setup-files folder stays writable by standard users; while the file is held nobody
// can write, rename or delete it (it is shared with readers only), so the file an elevated
// command runs is the file that was checked. Installers still open it: they only read.
#include "engine/Worker.h"
#include "osh/ScopedHandle.h"

#include <string>

namespace ziz {

class HeldComponent {
public:
    // Opens path for reading, denying writers and deleters. A file that cannot be opened
    // so (missing, written by someone now, a link) is not held and fails Verify.
    explicit HeldComponent(const std::wstring& path);

    // True when the held file passes the item's checks; otherwise logs the check's line,
    // records the failed check and returns false.
    bool Verify(Worker& worker, const InstallItem& item) const;

    bool IsHeld() const { return file_.valid(); }
    HANDLE Handle() const { return file_.get(); }
    const std::wstring& Path() const { return path_; }

private:
    std::wstring path_;
    osh::ScopedFile file_;
};

}  // namespace ziz

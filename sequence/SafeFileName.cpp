#include "sequence/SafeFileName.h"

#include "osh/Text.h"

#include <stdexcept>

namespace {

bool IsForbiddenCharacter(wchar_t c) { return c < 0x20 || c == L'\\' || c == L'/' || c == L':'; }

}  // namespace

bool IsSafeFileName(const std::wstring& name)
{
    // Windows drops trailing dots and blanks, so such a name means the directory itself
    // or its parent.
    if (name.find_first_not_of(L". ") == std::wstring::npos) return false;
    for (wchar_t c : name) {
        if (IsForbiddenCharacter(c)) return false;
    }
    return true;
}

void RequireSafeFileName(const InstallItem& item)
{
    if (!IsSafeFileName(item.Filename)) {
        throw std::runtime_error("Install item has an unsafe file name \"" + osh::Narrow(item.Filename) + "\"");
    }
}

#include "engine/FileVersion.h"

#include "osh/VersionResource.h"

#include <windows.h>

namespace ziz {

namespace {

constexpr WORD kUsEnglish = 1033;
constexpr WORD kUnicode = 1200;

std::wstring FixedVersionText(const VS_FIXEDFILEINFO& fixed)
{
    return std::to_wstring(HIWORD(fixed.dwFileVersionMS)) + L"." + std::to_wstring(LOWORD(fixed.dwFileVersionMS)) +
           L"." + std::to_wstring(HIWORD(fixed.dwFileVersionLS)) + L"." +
           std::to_wstring(LOWORD(fixed.dwFileVersionLS));
}

}  // namespace

bool ReadFileVersion(std::wstring& version, const std::wstring& path)
{
    version.clear();
    const osh::VersionResource resource(path);
    if (resource.getString(L"FileVersion", version)) return true;

    VS_FIXEDFILEINFO fixed{};
    if (resource.getFixedInfo(fixed)) {
        version = FixedVersionText(fixed);
        return true;
    }
    if (resource.getString(L"FileVersion", version, kUsEnglish, kUnicode)) return true;
    version.clear();
    return false;
}

}  // namespace ziz

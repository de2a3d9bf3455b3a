// The product executable as a whole: it is a Windows program that starts under Wine and
// carries the version it was configured with.
#include "support/TestEnvironment.h"

#include "BuildConfig.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

std::wstring VersionString(const std::wstring& file, const wchar_t* name)
{
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeW(file.c_str(), &ignored);
    if (size == 0) return L"<no version resource>";
    std::vector<BYTE> data(size);
    if (!GetFileVersionInfoW(file.c_str(), 0, size, data.data())) return L"<unreadable>";
    std::wstring query = std::wstring(L"\\StringFileInfo\\040904b0\\") + name;
    LPVOID value = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(data.data(), query.c_str(), &value, &length) || length == 0) return L"<missing>";
    return static_cast<const wchar_t*>(value);
}

TEST(Executable, VersionResourceCarriesConfiguredVersion)
{
    const std::wstring setup = testenv::SetupExecutable();
    EXPECT_EQ(testenv::Widen(NORLO_VERSION_TEXT), VersionString(setup, L"FileVersion"));
    EXPECT_EQ(testenv::Widen(NORLO_VERSION_TEXT), VersionString(setup, L"ProductVersion"));
    EXPECT_EQ(L"Norlo", VersionString(setup, L"CompanyName"));
    EXPECT_EQ(L"Norlo 5", VersionString(setup, L"ProductName"));

    DWORD ignored = 0;
    std::vector<BYTE> data(GetFileVersionInfoSizeW(setup.c_str(), &ignored));
    ASSERT_FALSE(data.empty());
    ASSERT_TRUE(GetFileVersionInfoW(setup.c_str(), 0, static_cast<DWORD>(data.size()), data.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(data.data(), L"\\", reinterpret_cast<LPVOID*>(&fixed), &length));
    EXPECT_EQ(static_cast<DWORD>(MAKELONG(NORLO_VERSION_MINOR, NORLO_VERSION_MAJOR)), fixed->dwFileVersionMS);
    EXPECT_EQ(static_cast<DWORD>(MAKELONG(NORLO_VERSION_REVISION, NORLO_VERSION_BUILD)), fixed->dwFileVersionLS);
}

TEST(Executable, StartsUnderWineAndEnds)
{
    const auto result = testenv::Run(L"\"" + testenv::SetupExecutable() + L"\" /silent", 60000);
    ASSERT_TRUE(result.started) << "CreateProcess failed: " << GetLastError();
    EXPECT_TRUE(result.finished) << "Setup.exe did not end within a minute";
}

TEST(Executable, CarriesIconAndManifest)
{
    HMODULE module = LoadLibraryExW(testenv::SetupExecutable().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(nullptr, module);
    EXPECT_NE(nullptr, FindResourceW(module, MAKEINTRESOURCEW(1), RT_GROUP_ICON));
    HRSRC manifest = FindResourceW(module, MAKEINTRESOURCEW(1), RT_MANIFEST);
    ASSERT_NE(nullptr, manifest);
    std::string text(static_cast<const char*>(LockResource(LoadResource(module, manifest))),
                     SizeofResource(module, manifest));
    EXPECT_NE(std::string::npos, text.find("Microsoft.Windows.Common-Controls"));
    EXPECT_NE(std::string::npos, text.find("asInvoker"));
    FreeLibrary(module);
}

}  // namespace

// Well-known folders as the 32-bit program sees them in the 64-bit prefix.
#include "osh/Exception.h"
#include "osh/Folders.h"
#include "osh/Platform.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

namespace {

std::wstring Folder(int kind)
{
    std::wstring out;
    osh::GetFolderPath(out, kind);
    return out;
}

std::wstring Environment(const wchar_t* name)
{
    wchar_t value[MAX_PATH] = {};
    GetEnvironmentVariableW(name, value, MAX_PATH);
    return value;
}

TEST(Folders, KindsOfThe64BitSystemFromA32BitProcess)
{
    NORLO_SKIP_UNLESS_WOW64();
    ASSERT_TRUE(osh::IsWow64());
    ASSERT_EQ(64, osh::GetNativeBitness());

    EXPECT_EQ(Environment(L"ProgramData"), Folder(osh::FolderProgramData));
    const std::wstring programFiles = Folder(osh::FolderProgramFiles);
    const std::wstring programFilesX86 = Folder(osh::FolderProgramFilesX86);
    const std::wstring programFiles64 = Folder(osh::FolderProgramFiles64);
    EXPECT_NE(programFilesX86, programFiles64);
    EXPECT_EQ(L"C:\\Program Files (x86)", programFilesX86);
    // The 64-bit folder comes from the 64-bit view of the registry, which a 32-bit
    // process's environment also names.
    EXPECT_EQ(Environment(L"ProgramW6432"), programFiles64);
    EXPECT_EQ(L"C:\\Program Files", programFiles64);
    // Asked from a 32-bit process, "program files" is the x86 folder.
    EXPECT_EQ(programFilesX86, programFiles);
    EXPECT_FALSE(Folder(osh::FolderInternetCache).empty());
}

// The system's own record of the 64-bit folder wins when it exists. Wine's prefix has no
// "ProgramW6432Dir"; the test adds one for its duration.
TEST(Folders, ProgramW6432DirIsPreferredFor64BitProgramFiles)
{
    NORLO_SKIP_UNLESS_WOW64();
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion", 0,
                                           KEY_WOW64_64KEY | KEY_QUERY_VALUE | KEY_SET_VALUE, &key));
    DWORD size = 0;
    const bool existed = RegQueryValueExW(key, L"ProgramW6432Dir", nullptr, nullptr, nullptr, &size) == ERROR_SUCCESS;
    ASSERT_FALSE(existed) << "the prefix already has ProgramW6432Dir; this test would change it";
    const wchar_t marked[] = L"D:\\Programs64";
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key, L"ProgramW6432Dir", 0, REG_SZ,
                                            reinterpret_cast<const BYTE*>(marked), sizeof(marked)));
    std::wstring folder;
    try {
        folder = Folder(osh::FolderProgramFiles64);
    } catch (const std::exception& error) {
        ADD_FAILURE() << error.what();
    }
    RegDeleteValueW(key, L"ProgramW6432Dir");
    RegCloseKey(key);
    EXPECT_EQ(L"D:\\Programs64", folder);
}

TEST(Folders, KnownFolderAndCsidlLookups)
{
    std::wstring known, csidl;
    osh::GetKnownFolderPath(known, {0x62AB5D82, 0xFDC1, 0x4DC3, {0xA9, 0xDD, 0x07, 0x0D, 0x1D, 0x49, 0x5D, 0x97}});
    osh::GetFolderPathByCsidl(csidl, CSIDL_COMMON_APPDATA, nullptr, nullptr, SHGFP_TYPE_DEFAULT);
    EXPECT_EQ(known, csidl);

    try {
        osh::GetFolderPathByCsidl(csidl, 0x7F, nullptr, nullptr, SHGFP_TYPE_DEFAULT);
        ADD_FAILURE() << "no exception for an unknown CSIDL";
    } catch (const win::exception& error) {
        EXPECT_EQ("SHGetFolderPath", error.context());
    }
    const GUID unknown = {0x12345678, 0x1234, 0x1234, {1, 2, 3, 4, 5, 6, 7, 8}};
    try {
        osh::GetKnownFolderPath(known, unknown);
        ADD_FAILURE() << "no exception for an unknown folder id";
    } catch (const win::exception& error) {
        EXPECT_EQ("SHGetKnownFolderPath", error.context());
    }
}

TEST(Folders, InvalidKindsAreRefused)
{
    for (int kind : {-1, 5, 100}) {
        try {
            Folder(kind);
            ADD_FAILURE() << "no exception for kind " << kind;
        } catch (const std::runtime_error& error) {
            EXPECT_STREQ("Invalid parameter passed to GetFolderPath()", error.what());
        }
    }
}

}  // namespace

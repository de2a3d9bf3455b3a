// The registry wrappers against the prefix's real registry: results, error flavours and
// the exact error contexts.
#include "osh/Exception.h"
#include "osh/Registry.h"
#include "support/TestEnvironment.h"

#include <sddl.h>

#include <gtest/gtest.h>

#include <string>

namespace {

const wchar_t kBase[] = L"Software\\osh-registry-test";
const wchar_t kLocked[] = L"Software\\osh-registry-test\\Locked";

// Gives the key kLocked the DACL in sddl. The DACL is set after creation: Wine ignores
// the security attributes of RegCreateKeyEx.
LONG SetLockedKeyDacl(const wchar_t* sddl)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor, nullptr))
        return static_cast<LONG>(GetLastError());
    HKEY key = nullptr;
    LONG status = RegCreateKeyExW(HKEY_CURRENT_USER, kLocked, 0, nullptr, 0, WRITE_DAC, nullptr, &key, nullptr);
    if (status == ERROR_SUCCESS) {
        status = RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, descriptor);
        RegCloseKey(key);
    }
    LocalFree(descriptor);
    return status;
}

// A key whose security denies every write and sub-key creation to everyone.
void CreateLockedKey() { ASSERT_EQ(ERROR_SUCCESS, SetLockedKeyDacl(L"D:(D;;KW;;;WD)(A;;KA;;;WD)")); }

class Registry : public ::testing::Test {
protected:
    void SetUp() override { RegDeleteTreeW(HKEY_CURRENT_USER, kBase); }
    void TearDown() override
    {
        SetLockedKeyDacl(L"D:(A;;KA;;;WD)");
        RegDeleteTreeW(HKEY_CURRENT_USER, kBase);
        RegDeleteKeyW(HKEY_CURRENT_USER, kBase);
    }

    osh::ScopedKey OpenBase(REGSAM access)
    {
        return osh::CreateKey(HKEY_CURRENT_USER, kBase, L"", 0, access, nullptr, nullptr);
    }
};

template <typename Operation>
win::exception Thrown(Operation operation)
{
    try {
        operation();
    } catch (const win::exception& error) {
        return error;
    }
    ADD_FAILURE() << "no win::exception";
    return win::exception(static_cast<DWORD>(0), "none");
}

TEST_F(Registry, CreateKeyReportsDispositionAndOpenKeyFindsIt)
{
    DWORD disposition = 0;
    osh::ScopedKey created =
        osh::CreateKey(HKEY_CURRENT_USER, kBase, L"NorloClass", 0, KEY_READ | KEY_WRITE, nullptr, &disposition);
    ASSERT_TRUE(created.valid());
    EXPECT_EQ(static_cast<DWORD>(REG_CREATED_NEW_KEY), disposition);
    osh::CreateKey(HKEY_CURRENT_USER, kBase, L"", 0, KEY_READ, nullptr, &disposition);
    EXPECT_EQ(static_cast<DWORD>(REG_OPENED_EXISTING_KEY), disposition);

    EXPECT_TRUE(osh::OpenKey(HKEY_CURRENT_USER, kBase, KEY_READ).valid());
    EXPECT_FALSE(osh::OpenKey(HKEY_CURRENT_USER, L"Software\\osh-registry-test\\Missing", KEY_READ).valid());
}

TEST_F(Registry, OpenKeyContextsForDeniedAccessAndABadRoot)
{
    CreateLockedKey();
    win::exception denied = Thrown([] { osh::OpenKey(HKEY_CURRENT_USER, kLocked, KEY_WRITE); });
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), denied.code());
    EXPECT_FALSE(denied.isWin32Error());
    EXPECT_EQ("RegOpenKeyEx(Software\\osh-registry-test\\Locked)", denied.context());
    EXPECT_EQ(0u, std::string(denied.what()).find("RegOpenKeyEx(Software\\osh-registry-test\\Locked): "));
    // Reading stays allowed.
    EXPECT_TRUE(osh::OpenKey(HKEY_CURRENT_USER, kLocked, KEY_QUERY_VALUE).valid());

    HKEY bogus = reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x1234));
    win::exception badRoot = Thrown([bogus] { osh::OpenKey(bogus, L"Software", KEY_READ); });
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), badRoot.code());
    EXPECT_EQ("RegOpenKeyEx(Software)", badRoot.context());

    win::exception createDenied =
        Thrown([] { osh::CreateKey(HKEY_CURRENT_USER, kLocked, L"", 0, KEY_WRITE, nullptr, nullptr); });
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), createDenied.code());
    EXPECT_EQ("RegCreateKeyEx(Software\\osh-registry-test\\Locked)", createDenied.context());
}

TEST_F(Registry, QueryStringTypesAndMissingValues)
{
    osh::ScopedKey key = OpenBase(KEY_READ | KEY_WRITE);
    osh::SetString(key.get(), L"Plain", L"hello");
    std::wstring value = L"stale";
    ASSERT_TRUE(osh::QueryString(key.get(), L"Plain", value));
    EXPECT_EQ(L"hello", value);

    // Written with its terminating NUL.
    DWORD size = 0;
    ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExW(key.get(), L"Plain", nullptr, nullptr, nullptr, &size));
    EXPECT_EQ(12u, size);

    const wchar_t expandable[] = L"%TEMP%\\x";
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key.get(), L"Expand", 0, REG_EXPAND_SZ,
                                            reinterpret_cast<const BYTE*>(expandable), sizeof(expandable)));
    ASSERT_TRUE(osh::QueryString(key.get(), L"Expand", value));
    EXPECT_EQ(L"%TEMP%\\x", value);

    value = L"stale";
    EXPECT_FALSE(osh::QueryString(key.get(), L"Missing", value));
    EXPECT_EQ(L"", value);

    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key.get(), L"Empty", 0, REG_SZ, nullptr, 0));
    EXPECT_FALSE(osh::QueryString(key.get(), L"Empty", value));

    const DWORD number = 7;
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key.get(), L"Number", 0, REG_DWORD,
                                            reinterpret_cast<const BYTE*>(&number), sizeof(number)));
    try {
        osh::QueryString(key.get(), L"Number", value);
        ADD_FAILURE() << "a REG_DWORD value was read as text";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ("Invalid data type for RegQueryValue()", error.what());
    }
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key.get(), L"None", 0, REG_NONE, nullptr, 0));
    EXPECT_THROW(osh::QueryString(key.get(), L"None", value), std::runtime_error);
}

TEST_F(Registry, QueryAndSetContextsOnAKeyWithoutTheRights)
{
    OpenBase(KEY_WRITE);
    osh::ScopedKey writeOnly = osh::OpenKey(HKEY_CURRENT_USER, kBase, KEY_SET_VALUE);
    osh::SetString(writeOnly.get(), L"Value", L"x");
    std::wstring value;
    win::exception query = Thrown([&] { osh::QueryString(writeOnly.get(), L"Value", value); });
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), query.code());
    EXPECT_EQ("RegQueryValueEx(Value)", query.context());

    osh::ScopedKey readOnly = osh::OpenKey(HKEY_CURRENT_USER, kBase, KEY_QUERY_VALUE);
    win::exception set = Thrown([&] { osh::SetString(readOnly.get(), L"Value", L"y"); });
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), set.code());
    EXPECT_FALSE(set.isWin32Error());
    EXPECT_EQ("RegSetValueEx(Value)", set.context());
}

TEST_F(Registry, CreateKeyPathCreatesEveryLevelAndNamesTheFailingPath)
{
    {
        osh::ScopedKey deepest =
            osh::CreateKeyPath(HKEY_CURRENT_USER, {L"Software", L"osh-registry-test", L"One", L"Two"});
        ASSERT_TRUE(deepest.valid());
        osh::SetString(deepest.get(), L"Name", L"deep");
    }
    osh::SetKeyPathString(HKEY_CURRENT_USER, {L"Software", L"osh-registry-test", L"One"}, L"Other", L"level one");
    std::wstring value;
    ASSERT_TRUE(osh::QueryString(osh::OpenKey(HKEY_CURRENT_USER, L"Software\\osh-registry-test\\One\\Two",
                                              KEY_QUERY_VALUE).get(), L"Name", value));
    EXPECT_EQ(L"deep", value);
    ASSERT_TRUE(osh::QueryString(osh::OpenKey(HKEY_CURRENT_USER, L"Software\\osh-registry-test\\One",
                                              KEY_QUERY_VALUE).get(), L"Other", value));
    EXPECT_EQ(L"level one", value);

    CreateLockedKey();
    win::exception error = Thrown([] {
        osh::CreateKeyPath(HKEY_CURRENT_USER, {L"Software", L"osh-registry-test", L"Locked", L"Child"});
    });
    EXPECT_TRUE(error.isWin32Error());
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), error.code());
    EXPECT_EQ("RegCreateKeyEx([HKEY_CURRENT_USER]\\Software\\osh-registry-test\\Locked)", error.context());

    win::exception setError = Thrown([] {
        osh::SetKeyPathString(HKEY_CURRENT_USER, {L"Software", L"osh-registry-test", L"Locked"}, L"n", L"v");
    });
    EXPECT_EQ("RegCreateKeyEx([HKEY_CURRENT_USER]\\Software\\osh-registry-test\\Locked)", setError.context());

    HKEY bogus = reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x1234));
    win::exception badRoot = Thrown([bogus] { osh::CreateKeyPath(bogus, {L"Software"}); });
    EXPECT_EQ("RegCreateKeyEx([?]\\Software)", badRoot.context());
}

TEST(RootKeyName, NamesEveryPredefinedRoot)
{
    EXPECT_EQ("[HKEY_CLASSES_ROOT]", osh::RootKeyName(HKEY_CLASSES_ROOT));
    EXPECT_EQ("[HKEY_CURRENT_USER]", osh::RootKeyName(HKEY_CURRENT_USER));
    EXPECT_EQ("[HKEY_LOCAL_MACHINE]", osh::RootKeyName(HKEY_LOCAL_MACHINE));
    EXPECT_EQ("[HKEY_USERS]", osh::RootKeyName(HKEY_USERS));
    EXPECT_EQ("[HKEY_PERFORMANCE_DATA]", osh::RootKeyName(HKEY_PERFORMANCE_DATA));
    EXPECT_EQ("[HKEY_CURRENT_CONFIG]", osh::RootKeyName(HKEY_CURRENT_CONFIG));
    EXPECT_EQ("[HKEY_DYN_DATA]", osh::RootKeyName(HKEY_DYN_DATA));
    EXPECT_EQ("[HKEY_PERFORMANCE_TEXT]", osh::RootKeyName(HKEY_PERFORMANCE_TEXT));
    EXPECT_EQ("[HKEY_PERFORMANCE_NLSTEXT]", osh::RootKeyName(HKEY_PERFORMANCE_NLSTEXT));
    EXPECT_EQ("[?]", osh::RootKeyName(nullptr));
    EXPECT_EQ("[?]", osh::RootKeyName(reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x80000007))));
}

}  // namespace

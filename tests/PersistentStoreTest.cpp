// The persistent key store against the real registry of the test prefix: the read-only
// group answered from the program's version resource, both hives, the 64-bit view.
#include "osh/Elevation.h"
#include "osh/Exception.h"
#include "osh/PersistentStore.h"
#include "osh/Registry.h"
#include "support/StoreKeys.h"
#include "support/TestEnvironment.h"

#include "BuildConfig.h"

#include <gtest/gtest.h>

#include <regex>

namespace {

using testsupport::ReadStoreString;

const wchar_t kGroup[] = L"osh-store-test";

HRESULT AnswerNotElevated(bool* elevated)
{
    if (elevated) *elevated = false;
    return 1;
}

class PersistentStore : public ::testing::Test {
protected:
    void SetUp() override { Clean(); }
    void TearDown() override
    {
        if (seamSet_) osh::SetElevationQueryFunction(previousQuery_);
        Clean();
    }
    void BecomeNonElevated()
    {
        previousQuery_ = osh::SetElevationQueryFunction(&AnswerNotElevated);
        seamSet_ = true;
    }

    static void Clean()
    {
        testsupport::DeleteStoreGroup(HKEY_LOCAL_MACHINE, kGroup);
        testsupport::DeleteStoreGroup(HKEY_CURRENT_USER, kGroup);
    }

    bool seamSet_ = false;
    osh::ElevationQueryFunction previousQuery_ = nullptr;
};

void ExpectRefusal(void (*operation)(const std::wstring&), const std::wstring& group)
{
    try {
        operation(group);
        ADD_FAILURE() << "no exception for the group '" << testenv::Narrow(group) << "'";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ("Cannot change keys in reserved group 'Reserved'", error.what());
    }
}

void WriteKey(const std::wstring& group) { osh::SetPersistentValue(group, L"key", L"value"); }
void DeleteKey(const std::wstring& group) { osh::DeletePersistentValue(group, L"key"); }

TEST_F(PersistentStore, ReservedGroupAnswersFromVersionResourceInAnyCase)
{
    std::wstring value;
    ASSERT_TRUE(osh::GetPersistentValue(L"", L"companyname", value));
    EXPECT_EQ(L"Norlo", value);
    ASSERT_TRUE(osh::GetPersistentValue(L"reserved", L"PRODUCTNAME", value));
    EXPECT_EQ(L"Norlo 5", value);
    ASSERT_TRUE(osh::GetPersistentValue(L"Reserved", L"FileVersion", value));
    EXPECT_EQ(testenv::Widen(NORLO_VERSION_TEXT), value);

    // "Version" is not a version-resource string name; "Comments" is one the program lacks.
    value = L"stale";
    EXPECT_FALSE(osh::GetPersistentValue(L"Reserved", L"Version", value));
    EXPECT_FALSE(osh::GetPersistentValue(L"", L"Comments", value));
}

TEST_F(PersistentStore, ReservedAndEmptyGroupsRefuseWritesAndDeletes)
{
    ExpectRefusal(&WriteKey, L"Reserved");
    ExpectRefusal(&WriteKey, L"RESERVED");
    ExpectRefusal(&WriteKey, L"");
    ExpectRefusal(&DeleteKey, L"reserved");
    ExpectRefusal(&DeleteKey, L"");
}

TEST_F(PersistentStore, ElevatedWriteLandsInBothHivesInThe64BitView)
{
    osh::SetPersistentValue(kGroup, L"DirInstall64", L"C:\\Program Files\\Norlo");

    std::wstring value;
    ASSERT_TRUE(ReadStoreString(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, kGroup, L"DirInstall64", value));
    EXPECT_EQ(L"C:\\Program Files\\Norlo", value);
    ASSERT_TRUE(ReadStoreString(HKEY_CURRENT_USER, KEY_WOW64_64KEY, kGroup, L"DirInstall64", value));
    EXPECT_EQ(L"C:\\Program Files\\Norlo", value);
    // The 32-bit view of the machine's software key is a different key.
    EXPECT_FALSE(ReadStoreString(HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY, kGroup, L"DirInstall64", value));

    ASSERT_TRUE(osh::GetPersistentValue(kGroup, L"DirInstall64", value));
    EXPECT_EQ(L"C:\\Program Files\\Norlo", value);
}

TEST_F(PersistentStore, NonElevatedWriteAndReadUseOnlyTheUserHive)
{
    BecomeNonElevated();
    osh::SetPersistentValue(kGroup, L"LastFile", L"user only");

    std::wstring value;
    EXPECT_FALSE(ReadStoreString(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, kGroup, L"LastFile", value));
    ASSERT_TRUE(ReadStoreString(HKEY_CURRENT_USER, KEY_WOW64_64KEY, kGroup, L"LastFile", value));
    EXPECT_EQ(L"user only", value);

    // A value only the machine hive holds is invisible to the non-elevated reader.
    const wchar_t machine[] = L"machine";
    testsupport::WriteStoreValue(HKEY_LOCAL_MACHINE, kGroup, L"MachineOnly", REG_SZ, machine, sizeof(machine));
    EXPECT_FALSE(osh::GetPersistentValue(kGroup, L"MachineOnly", value));
    ASSERT_TRUE(osh::GetPersistentValue(kGroup, L"LastFile", value));
    EXPECT_EQ(L"user only", value);
}

TEST_F(PersistentStore, ValuesOfOtherTypesAndMissingValuesReadAsNotFound)
{
    const DWORD number = 42;
    testsupport::WriteStoreValue(HKEY_LOCAL_MACHINE, kGroup, L"Number", REG_DWORD, &number, sizeof(number));
    std::wstring value = L"untouched";
    EXPECT_FALSE(osh::GetPersistentValue(kGroup, L"Number", value));
    EXPECT_FALSE(osh::GetPersistentValue(kGroup, L"Missing", value));
    EXPECT_FALSE(osh::GetPersistentValue(L"osh-store-test-no-such-group", L"Missing", value));

    // An empty string value exists and reads as empty.
    const wchar_t empty[] = L"";
    testsupport::WriteStoreValue(HKEY_LOCAL_MACHINE, kGroup, L"Empty", REG_SZ, empty, 0);
    value = L"stale";
    ASSERT_TRUE(osh::GetPersistentValue(kGroup, L"Empty", value));
    EXPECT_EQ(L"", value);
}

TEST_F(PersistentStore, DeleteRemovesTheValueAndAMissingValueThrows)
{
    osh::SetPersistentValue(kGroup, L"Gone", L"soon");
    osh::DeletePersistentValue(kGroup, L"Gone");
    std::wstring value;
    EXPECT_FALSE(ReadStoreString(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, kGroup, L"Gone", value));
    // Only the store hive is touched: the user-hive mirror stays.
    EXPECT_TRUE(ReadStoreString(HKEY_CURRENT_USER, KEY_WOW64_64KEY, kGroup, L"Gone", value));

    try {
        osh::DeletePersistentValue(kGroup, L"Gone");
        ADD_FAILURE() << "deleting a missing value did not throw";
    } catch (const win::exception& error) {
        EXPECT_EQ("RegDeleteValue(Gone)", error.context());
        EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), error.code());
        EXPECT_EQ(0, std::string(error.what()).find("RegDeleteValue(Gone): "));
    }
}

TEST_F(PersistentStore, WellKnownValues)
{
    testsupport::SavedStoreValue saved64(L"Setup", L"DirInstall64");
    testsupport::SavedStoreValue saved32(L"Setup", L"DirInstall32");
    testsupport::DeleteStoreValue(HKEY_LOCAL_MACHINE, L"Setup", L"DirInstall64");
    osh::SetPersistentValue(L"Setup", L"DirInstall32", L"C:\\Program Files (x86)\\Norlo");

    std::wstring value;
    ASSERT_TRUE(osh::GetWellKnownValue(L"DirInstall", value));
    EXPECT_EQ(L"C:\\Program Files (x86)\\Norlo", value);

    osh::SetPersistentValue(L"Setup", L"DirInstall64", L"C:\\Program Files\\Norlo");
    ASSERT_TRUE(osh::GetWellKnownValue(L"DirInstall", value));
    EXPECT_EQ(L"C:\\Program Files\\Norlo", value);
    ASSERT_TRUE(osh::GetWellKnownValue(L"dirinstall32", value));
    EXPECT_EQ(L"C:\\Program Files (x86)\\Norlo", value);

    ASSERT_TRUE(osh::GetWellKnownValue(L"company", value));
    EXPECT_EQ(L"Norlo", value);
    ASSERT_TRUE(osh::GetWellKnownValue(L"product", value));
    EXPECT_EQ(L"Norlo 5", value);
    EXPECT_FALSE(osh::GetWellKnownValue(L"updateURL", value));
    EXPECT_EQ(L"", value);
}

TEST(GuidString, HasTheBracedLowerCaseFormAndIsFresh)
{
    const std::wregex pattern(L"^\\{[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}\\}$");
    std::wstring first, second;
    ASSERT_TRUE(osh::CreateGuidString(first));
    ASSERT_TRUE(osh::CreateGuidString(second));
    EXPECT_EQ(38u, first.size());
    EXPECT_TRUE(std::regex_match(first, pattern)) << testenv::Narrow(first);
    EXPECT_TRUE(std::regex_match(second, pattern)) << testenv::Narrow(second);
    EXPECT_NE(first, second);
}

}  // namespace

// The numbered lists an engine keeps in the persistent key store, against the real
// registry: gaps, duplicates, the first free number and store failures.
#include "osh/Exception.h"
#include "osh/PersistentStore.h"
#include "support/LogCapture.h"
#include "support/StoreKeys.h"
#include "support/TestWorker.h"

#include <sddl.h>

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <vector>

namespace {

using Poco::Message;
using testsupport::ReadStoreString;

const wchar_t kGroup[] = L"osh-lists-test";

void Put(const std::wstring& group, const std::wstring& key, const std::wstring& value)
{
    testsupport::WriteStoreValue(HKEY_LOCAL_MACHINE, group, key, REG_SZ, value.c_str(),
                                 static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

std::map<std::wstring, std::wstring> StoredKeys(const std::wstring& group, int upTo)
{
    std::map<std::wstring, std::wstring> found;
    for (int i = 0; i <= upTo; ++i) {
        std::wstring value;
        if (ReadStoreString(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, group, std::to_wstring(i), value))
            found[std::to_wstring(i)] = value;
    }
    return found;
}

class WorkerLists : public ::testing::Test {
protected:
    void SetUp() override { Clean(); }
    void TearDown() override { Clean(); }
    static void Clean()
    {
        testsupport::DeleteStoreGroup(HKEY_LOCAL_MACHINE, kGroup);
        testsupport::DeleteStoreGroup(HKEY_CURRENT_USER, kGroup);
    }

    testsupport::TestWorker worker;
};

TEST_F(WorkerLists, LoadListBridgesTwoMissesInTotal)
{
    Put(kGroup, L"0", L"zero");
    Put(kGroup, L"2", L"two");
    Put(kGroup, L"5", L"five");
    std::map<std::wstring, std::wstring> list;
    worker.LoadList(list, kGroup);
    const std::map<std::wstring, std::wstring> expected{{L"0", L"zero"}, {L"2", L"two"}};
    EXPECT_EQ(expected, list);

    // Entries already in the map are kept.
    Put(kGroup, L"1", L"one");
    list = {{L"1", L"mine"}};
    worker.LoadList(list, kGroup);
    const std::map<std::wstring, std::wstring> merged{{L"0", L"zero"}, {L"1", L"mine"}, {L"2", L"two"}, {L"5", L"five"}};
    EXPECT_EQ(merged, list);
}

TEST_F(WorkerLists, AddToListStopsAtAnEqualValueAndFillsTheFirstGap)
{
    using List = std::map<std::wstring, std::wstring>;
    Put(kGroup, L"0", L"a");
    Put(kGroup, L"1", L"b");
    Put(kGroup, L"3", L"d");
    worker.AddToList(L"b", kGroup);
    EXPECT_EQ((List{{L"0", L"a"}, {L"1", L"b"}, {L"3", L"d"}}), StoredKeys(kGroup, 6));

    worker.AddToList(L"c", kGroup);
    EXPECT_EQ((List{{L"0", L"a"}, {L"1", L"b"}, {L"2", L"c"}, {L"3", L"d"}}), StoredKeys(kGroup, 6));
    worker.AddToList(L"c", kGroup);
    EXPECT_EQ((List{{L"0", L"a"}, {L"1", L"b"}, {L"2", L"c"}, {L"3", L"d"}}), StoredKeys(kGroup, 6));

    // The comparison is case-sensitive: "A" is a new entry, written after the last one.
    worker.AddToList(L"A", kGroup);
    EXPECT_EQ((List{{L"0", L"a"}, {L"1", L"b"}, {L"2", L"c"}, {L"3", L"d"}, {L"4", L"A"}}), StoredKeys(kGroup, 6));

    // The walk stops at the first free number, even when the value is listed further on.
    testsupport::DeleteStoreValue(HKEY_LOCAL_MACHINE, kGroup, L"1");
    worker.AddToList(L"d", kGroup);
    EXPECT_EQ((List{{L"0", L"a"}, {L"1", L"d"}, {L"2", L"c"}, {L"3", L"d"}, {L"4", L"A"}}), StoredKeys(kGroup, 6));
}

TEST_F(WorkerLists, AStoreFailureIsLoggedAsAWarning)
{
    testsupport::LogCapture capture;
    worker.AddToList(L"value", L"Reserved");
    EXPECT_TRUE(capture.Contains(Message::PRIO_WARNING, "Cannot change keys in reserved group 'Reserved'"));

    // A group key nobody may write to: the registry refuses and the engine carries on.
    capture.Clear();
    const std::wstring locked = std::wstring(kGroup) + L"\\Locked";
    Put(locked, L"0", L"first");
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, testsupport::StoreGroupPath(locked).c_str(), 0,
                                           KEY_WOW64_64KEY | WRITE_DAC, &key));
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:(D;;KW;;;WD)(A;;KA;;;WD)", SDDL_REVISION_1,
                                                                     &descriptor, nullptr));
    EXPECT_EQ(ERROR_SUCCESS, RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, descriptor));
    worker.AddToList(L"second", locked);
    PSECURITY_DESCRIPTOR open = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:(A;;KA;;;WD)", SDDL_REVISION_1, &open, nullptr));
    RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, open);
    LocalFree(open);
    LocalFree(descriptor);
    RegCloseKey(key);

    const std::string expected = "RegCreateKeyEx([HKEY_LOCAL_MACHINE]\\SOFTWARE\\Norlo\\Norlo 5\\osh-lists-test\\Locked): " +
                                 std::string(win::exception(static_cast<DWORD>(ERROR_ACCESS_DENIED), "").what());
    std::vector<testsupport::LogLine> lines = capture.Lines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(Message::PRIO_WARNING, lines[0].priority);
    EXPECT_EQ(expected.substr(0, expected.find_first_of("\r\n")), lines[0].text);
    std::wstring value;
    EXPECT_FALSE(ReadStoreString(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, locked, L"1", value));
}

TEST_F(WorkerLists, UninstallListUsesTheUninstallGroup)
{
    std::vector<std::unique_ptr<testsupport::SavedStoreValue>> saved;
    for (int i = 0; i < 6; ++i) {
        saved.push_back(std::make_unique<testsupport::SavedStoreValue>(L"uninstall", std::to_wstring(i)));
        testsupport::DeleteStoreValue(HKEY_LOCAL_MACHINE, L"uninstall", std::to_wstring(i));
    }
    worker.AddUninstallEntry(L"msiexec /x {A}");
    worker.AddUninstallEntry(L"msiexec /x {B}");
    worker.AddUninstallEntry(L"msiexec /x {A}");
    std::map<std::wstring, std::wstring> list;
    worker.LoadUninstallList(list);
    EXPECT_EQ((std::map<std::wstring, std::wstring>{{L"0", L"msiexec /x {A}"}, {L"1", L"msiexec /x {B}"}}), list);
}

}  // namespace

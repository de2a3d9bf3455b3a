#pragma once
// Direct registry access for tests of the persistent key store: reads and removes the
// store's keys in a chosen view without going through the code under test.
#include <windows.h>

#include <string>

namespace testsupport {

// "SOFTWARE\Norlo\Norlo 5\<group>", the key of a store group.
std::wstring StoreGroupPath(const std::wstring& group);

// Reads a REG_SZ value; false when the key or value is missing. view is KEY_WOW64_64KEY
// or KEY_WOW64_32KEY.
bool ReadStoreString(HKEY hive, REGSAM view, const std::wstring& group, const std::wstring& name,
                     std::wstring& out);

// Writes a value of any type in the 64-bit view, creating the group key.
void WriteStoreValue(HKEY hive, const std::wstring& group, const std::wstring& name, DWORD type, const void* data,
                     DWORD size);

// Removes one value (missing is fine).
void DeleteStoreValue(HKEY hive, const std::wstring& group, const std::wstring& name);

// Removes a group key with everything below it in the 64-bit view (missing is fine).
void DeleteStoreGroup(HKEY hive, const std::wstring& group);

// Remembers a value in both hives and puts it back (or removes it) on destruction.
class SavedStoreValue {
public:
    SavedStoreValue(const std::wstring& group, const std::wstring& name);
    ~SavedStoreValue();
    SavedStoreValue(const SavedStoreValue&) = delete;
    SavedStoreValue& operator=(const SavedStoreValue&) = delete;

private:
    struct Saved {
        HKEY hive;
        bool present = false;
        std::wstring value;
    };
    std::wstring group_;
    std::wstring name_;
    Saved saved_[2];
};

}  // namespace testsupport

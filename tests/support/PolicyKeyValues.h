#pragma once
// The administrator's policy key, written directly for the tests of the code that reads
// it. A PolicyKeyScope removes the whole key when it begins and when it ends, so no policy
// outlives the test that set it.
#include <windows.h>

#include <string>

namespace testsupport {

class PolicyKeyScope {
public:
    PolicyKeyScope();
    ~PolicyKeyScope();
    PolicyKeyScope(const PolicyKeyScope&) = delete;
    PolicyKeyScope& operator=(const PolicyKeyScope&) = delete;

    // Each writes one value in the 64-bit view, creating the key; false when the write failed.
    bool SetText(const std::wstring& name, const std::wstring& value) const;
    bool SetNumber(const std::wstring& name, DWORD value) const;
    bool SetRaw(const std::wstring& name, DWORD type, const void* data, DWORD size) const;
    // Refuses every reader of the key (which must exist), as a locked or damaged key would;
    // the scope gives the access back before it removes the key. False when it failed.
    bool DenyReading() const;
};

// The line of a run whose policy key could not be read for the error, with the system's
// text fetched independently of the code under test.
std::string UnreadableKeyLine(DWORD error);

}  // namespace testsupport

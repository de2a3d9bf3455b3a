// Which item file names from a sequence document may be joined to a local folder.
// Free of Windows: built natively too.
#include "sequence/SafeFileName.h"

#include "osh/Text.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace {

struct Case {
    const wchar_t* name;
    bool safe;
};

const Case kCases[] = {
    // the sample release's names
    {L"norlo5-custom-5.0.1038.10828__PRE.msi", true},
    {L"norlo5-Setup-5.0.1038.10828.exe", true},
    {L"vcredist_x64.exe", true},
    {L"appliance.exe", true},
    {L"c++runtime+x64.msi", true},
    {L".hidden", true},
    {L"x..y", true},
    // device names are only reserved as the whole stem
    {L"NULL.exe", true},
    {L"console.txt", true},
    {L"COM10.msi", true},
    {L"LPT0.msi", true},
    {L"auxiliary", true},
    {L"com1x.exe", true},
    {L"xnul", true},
    // reserved device names, any case, with or without an extension
    {L"NUL", false},
    {L"nul", false},
    {L"nul.txt", false},
    {L"Con.msi", false},
    {L"prn.exe", false},
    {L"AUX", false},
    {L"aux.tar.gz", false},
    {L"COM1", false},
    {L"com9.exe", false},
    {L"LPT1", false},
    {L"lpt9.msi", false},
    // dots and blanks
    {L"", false},
    {L".", false},
    {L"..", false},
    {L"...", false},
    {L"setup.", false},
    {L"setup.exe.", false},
    {L"setup.exe ", false},
    {L" ", false},
    {L". .", false},
    {L"my setup.exe", false},
    // paths, drives, streams, wildcards and other characters
    {L"..\\x.exe", false},
    {L"a\\b", false},
    {L"a/b", false},
    {L"/x", false},
    {L"C:x.exe", false},
    {L"x.exe:stream", false},
    {L"*.msi", false},
    {L"setup?.exe", false},
    {L"a<b", false},
    {L"a>b", false},
    {L"a|b", false},
    {L"a\"b", false},
    {L"%TEMP%.exe", false},
    {L"tab\there", false},
    {L"caf\u00e9.msi", false},
    {L"\uff0e\uff0e", false},  // full-width dots
};

TEST(SafeFileName, NamesFromTheTable)
{
    for (const Case& c : kCases) {
        EXPECT_EQ(c.safe, IsSafeFileName(c.name)) << osh::Narrow(c.name);
    }
    EXPECT_FALSE(IsSafeFileName(std::wstring(L"a\0b", 3)));
    EXPECT_FALSE(IsSafeFileName(std::wstring(L"nul\0.msi", 8)));
}

TEST(SafeFileName, RefusalNamesTheItem)
{
    InstallItem item;
    item.Filename = L"nul.msi";
    try {
        RequireSafeFileName(item);
        ADD_FAILURE() << "no exception";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ("Install item has an unsafe file name \"nul.msi\"", error.what());
    }
    item.Filename = L"norlo5-custom-5.0.1038.10828__PRE.msi";
    EXPECT_NO_THROW(RequireSafeFileName(item));
}

}  // namespace

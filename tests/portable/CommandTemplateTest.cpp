// Expansion of install command templates into the command lines the engine starts.
#include "sequence/CommandTemplate.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const std::wstring kLog = L"C:\\Temp\\x\\a.msi.log";
const std::wstring kApp = L"C:\\Setup Files\\a.msi";
const std::wstring kDir32 = L"C:\\Program Files (x86)\\Norlo";
const std::wstring kDir64 = L"C:\\Program Files\\Norlo";
const std::wstring kTemp = L"C:\\Temp\\x";

std::wstring Expand64(const std::wstring& commandTemplate)
{
    return ExpandCommand(true, kLog, commandTemplate, kApp, kDir32, kDir64, kTemp);
}

std::wstring Expand32(const std::wstring& commandTemplate)
{
    return ExpandCommand(false, kLog, commandTemplate, kApp, kDir32, kDir64, kTemp);
}

TEST(CommandTemplate, MsiTemplateQuotesPathsAndKeepsBlanks)
{
    EXPECT_EQ(L"msiexec /qn /i \"C:\\Setup Files\\a.msi\" /log \"C:\\Temp\\x\\a.msi.log\" /norestart",
              Expand64(L"msiexec /qn /i [APP] /log [LOG] /norestart"));
    EXPECT_EQ(L"msiexec  /i \"C:\\Setup Files\\a.msi\"  ", Expand64(L"msiexec  /i [APP]  "));
}

TEST(CommandTemplate, ComponentAsProgram)
{
    EXPECT_EQ(L"\"C:\\Setup Files\\a.msi\" /q", Expand64(L"[APP] /q"));
}

TEST(CommandTemplate, EveryPlaceholderAndEveryOccurrence)
{
    EXPECT_EQ(L"x \"C:\\Program Files (x86)\\Norlo\" \"C:\\Program Files\\Norlo\" \"C:\\Temp\\x\" "
              L"\"C:\\Temp\\x\" \"C:\\Setup Files\\a.msi\"",
              Expand64(L"x [INSTALLDIR32] [INSTALLDIR64] [TEMPDIR] [TEMPDIR] [APP]"));
    EXPECT_EQ(L"\"C:\\Setup Files\\a.msi\"\"C:\\Setup Files\\a.msi\"", Expand64(L"[APP][APP]"));
    EXPECT_EQ(L"\"C:\\Temp\\x\"\"C:\\Temp\\x\"\"C:\\Temp\\x\"", Expand64(L"[TEMPDIR][TEMPDIR][TEMPDIR]"));
}

TEST(CommandTemplate, UnchangedTextStaysAsWritten)
{
    EXPECT_EQ(L"setup.exe /quiet /norestart", Expand64(L"setup.exe /quiet /norestart"));
    EXPECT_EQ(L"", Expand64(L""));
    EXPECT_EQ(L"[app] [Log] [TempDir] [INSTALLDIR] [FOO] [APP [ APP] APP]",
              Expand64(L"[app] [Log] [TempDir] [INSTALLDIR] [FOO] [APP [ APP] APP]"));
    // A placeholder split by a nested one is not found once the inner one is replaced.
    EXPECT_EQ(L"[AP\"C:\\Setup Files\\a.msi\"P]", Expand64(L"[AP[APP]P]"));
}

TEST(CommandTemplate, SixtyFourBitDirectoryOnlyOnSixtyFourBitSystems)
{
    EXPECT_EQ(L"run [INSTALLDIR64] \"C:\\Program Files (x86)\\Norlo\"", Expand32(L"run [INSTALLDIR64] [INSTALLDIR32]"));
    EXPECT_EQ(L"run \"C:\\Program Files\\Norlo\"", Expand64(L"run [INSTALLDIR64]"));
    // Only the 64-bit directory is left out; the temporary directory still follows it.
    EXPECT_EQ(L"[INSTALLDIR64]\"C:\\Temp\\x\"", Expand32(L"[INSTALLDIR64][TEMPDIR]"));
}

TEST(CommandTemplate, ValuesAreQuotedButNotEscaped)
{
    EXPECT_EQ(L"a \"\" b \"\"", ExpandCommand(true, L"", L"a [APP] b [LOG]", L"", kDir32, kDir64, kTemp));
    EXPECT_EQ(L"run \"say \"hi\"\"", ExpandCommand(true, kLog, L"run [APP]", L"say \"hi\"", kDir32, kDir64, kTemp));
    EXPECT_EQ(L"\"C:\\dir\\\"", ExpandCommand(true, kLog, L"[TEMPDIR]", kApp, kDir32, kDir64, L"C:\\dir\\"));
}

TEST(CommandTemplate, LaterPlaceholdersAreFoundInsideEarlierValues)
{
    // "[APP]" goes first, so a "[TEMPDIR]" in its value is replaced later; a value is
    // never searched for its own placeholder, so no endless expansion.
    EXPECT_EQ(L"\"D:\\\"C:\\Temp\\x\"\\a.msi\"",
              ExpandCommand(true, kLog, L"[APP]", L"D:\\[TEMPDIR]\\a.msi", kDir32, kDir64, kTemp));
    EXPECT_EQ(L"\"[APP]\" \"x[LOG]\"",
              ExpandCommand(true, L"x[LOG]", L"[APP] [LOG]", L"[APP]", kDir32, kDir64, kTemp));
    // "[TEMPDIR]" is last: "[LOG]" inside its value survives.
    EXPECT_EQ(L"\"T[LOG]\"", ExpandCommand(true, kLog, L"[TEMPDIR]", kApp, kDir32, kDir64, L"T[LOG]"));
    // "[INSTALLDIR64]" inside a 32-bit directory is replaced only on 64-bit systems.
    EXPECT_EQ(L"\"\"C:\\Program Files\\Norlo\"\"",
              ExpandCommand(true, kLog, L"[INSTALLDIR32]", kApp, L"[INSTALLDIR64]", kDir64, kTemp));
    EXPECT_EQ(L"\"[INSTALLDIR64]\"",
              ExpandCommand(false, kLog, L"[INSTALLDIR32]", kApp, L"[INSTALLDIR64]", kDir64, kTemp));
}

TEST(CommandTemplate, ReplaceScansWithoutOverlap)
{
    EXPECT_EQ(L"\"v\"a", ReplaceQuoted(L"aaa", L"aa", L"v"));
    EXPECT_EQ(L"\"v\"\"v\"", ReplaceQuoted(L"aaaa", L"aa", L"v"));
    EXPECT_EQ(L"text", ReplaceQuoted(L"text", L"", L"v"));
}

}  // namespace

// The texts of the helper library's exceptions: the system's message after the caller's
// context for win::exception (the errno table is in portable/ErrnoExceptionTest.cpp).
#include "osh/Exception.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace {

// The system's own text for a code, fetched independently of the class under test.
bool SystemText(DWORD code, std::string& text)
{
    LPSTR buffer = nullptr;
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS |
                                            FORMAT_MESSAGE_FROM_SYSTEM,
                                        nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                                        reinterpret_cast<LPSTR>(&buffer), 0, nullptr);
    if (buffer == nullptr || length == 0) return false;
    text.assign(buffer, length);
    LocalFree(buffer);
    return true;
}

TEST(WinException, ContextThenSystemTextWithItsLineBreak)
{
    std::string system;
    ASSERT_TRUE(SystemText(ERROR_FILE_NOT_FOUND, system));
    ASSERT_GE(system.size(), 2u);
    const win::exception e(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), "CreateFile(\"C:\\data\\missing.txt\")");
    EXPECT_EQ("CreateFile(\"C:\\data\\missing.txt\"): " + system, e.what());
    EXPECT_EQ("\r\n", std::string(e.what()).substr(std::string(e.what()).size() - 2));
    EXPECT_EQ(2u, e.code());
    EXPECT_TRUE(e.isWin32Error());
    EXPECT_EQ("CreateFile(\"C:\\data\\missing.txt\")", e.context());
}

TEST(WinException, EmptyContextGivesTheSystemTextAlone)
{
    std::string system;
    ASSERT_TRUE(SystemText(ERROR_ACCESS_DENIED, system));
    const win::exception e(static_cast<DWORD>(ERROR_ACCESS_DENIED), "");
    EXPECT_EQ(system, e.what());
    EXPECT_NE(0u, std::string(e.what()).rfind(": ", 0)) << "no leading separator";
}

TEST(WinException, UndescribableCodesFallBackWithoutContext)
{
    const DWORD unknownError = 0x0000FFF1;
    const HRESULT unknownResult = static_cast<HRESULT>(0x8BADF00D);
    std::string ignored;
    ASSERT_FALSE(SystemText(unknownError, ignored)) << "pick a code the system cannot describe";
    ASSERT_FALSE(SystemText(static_cast<DWORD>(unknownResult), ignored));

    const win::exception dword(unknownError, "RegOpenKeyEx(SOFTWARE\\Norlo)");
    EXPECT_STREQ("Unknown DWORD error", dword.what());
    EXPECT_EQ("RegOpenKeyEx(SOFTWARE\\Norlo)", dword.context());
    EXPECT_EQ(unknownError, dword.code());

    const win::exception hresult(unknownResult, "SHGetKnownFolderPath");
    EXPECT_STREQ("Unknown HRESULT error", hresult.what());
    EXPECT_FALSE(hresult.isWin32Error());
    EXPECT_EQ(static_cast<DWORD>(unknownResult), hresult.code());
    EXPECT_EQ("SHGetKnownFolderPath", hresult.context());
}

TEST(WinException, HresultFlavourDescribesLikeTheDwordOne)
{
    const HRESULT accessDenied = HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED);
    std::string system;
    const win::exception e(accessDenied, "RegSetValueEx(updateURL)");
    EXPECT_FALSE(e.isWin32Error());
    if (SystemText(static_cast<DWORD>(accessDenied), system)) {
        EXPECT_EQ("RegSetValueEx(updateURL): " + system, e.what());
    } else {
        EXPECT_STREQ("Unknown HRESULT error", e.what());
    }
}

TEST(WinException, CopiesKeepEverything)
{
    const win::exception original(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), "FindFirstFile");
    const win::exception copy(original);
    EXPECT_STREQ(original.what(), copy.what());
    EXPECT_EQ(original.code(), copy.code());
    EXPECT_EQ(original.isWin32Error(), copy.isWin32Error());
    EXPECT_EQ(original.context(), copy.context());
    try {
        throw copy;
    } catch (const std::exception& caught) {
        EXPECT_STREQ(original.what(), caught.what());
    }
}

}  // namespace

// The texts of the helper library's exceptions: the system's message after the caller's
// context for win::exception, the errno table for errnoEx::exception.
#include "osh/ErrnoException.h"
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

TEST(ErrnoException, TableTextAfterTheContext)
{
    const errnoEx::exception e(22, "_tsplitpath_s");
    EXPECT_EQ(
        "_tsplitpath_s: Invalid argument. An invalid value was given for one of the arguments to a function. [EINVAL]",
        std::string(e.what()));
    EXPECT_EQ(22, e.errnoValue());
}

TEST(ErrnoException, ValuesWithoutARowAreNamedAsUnknown)
{
    EXPECT_EQ("_tsplitpath_s: Unknown errno value 37.", std::string(errnoEx::exception(37, "_tsplitpath_s").what()));
    for (int value : {0, 15, 26, 35, 37, 43, 79, 81, -1, 1000}) {
        EXPECT_EQ("x: Unknown errno value " + std::to_string(value) + ".",
                  std::string(errnoEx::exception(value, "x").what()));
    }
}

TEST(ErrnoException, EmptyContextKeepsTheSeparator)
{
    EXPECT_EQ(": [EPERM]", std::string(errnoEx::exception(1, "").what()));
    EXPECT_EQ(": Unknown errno value 37.", std::string(errnoEx::exception(37, "").what()));
}

TEST(ErrnoException, EveryRowEndsInItsTag)
{
    const std::pair<int, const char*> tags[] = {
        {1, "[EPERM]"},     {2, "[ENOENT]"},  {3, "[ESRCH]"},   {4, "[EINTR]"},     {5, "[EIO]"},
        {6, "[ENXIO]"},     {7, "[E2BIG]"},   {8, "[ENOEXEC]"}, {9, "[EBADF]"},     {10, "[ECHILD]"},
        {11, "[EAGAIN]"},   {12, "[ENOMEM]"}, {13, "[EACCES]"}, {14, "[EFAULT]"},   {16, "[EBUSY]"},
        {17, "[EEXIST]"},   {18, "[EXDEV]"},  {19, "[ENODEV]"}, {20, "[ENOTDIR]"},  {21, "[EISDIR]"},
        {22, "[EINVAL]"},   {23, "[ENFILE]"}, {24, "[EMFILE]"}, {25, "[ENOTTY]"},   {27, "[EFBIG]"},
        {28, "[ENOSPC]"},   {29, "[ESPIPE]"}, {30, "[EROFS]"},  {31, "[EMLINK]"},   {32, "[EPIPE]"},
        {33, "[EDOM]"},     {34, "[ERANGE]"}, {36, "[EDEADLK]"}, {38, "[ENAMETOOLONG]"}, {39, "[ENOLCK]"},
        {40, "[ENOSYS]"},   {41, "[ENOTEMPTY]"}, {42, "[EILSEQ]"}, {80, "[STRUNCATE]"},
    };
    for (const auto& tag : tags) {
        const std::string text = errnoEx::exception::Describe(tag.first);
        const std::string expected = tag.second;
        ASSERT_GE(text.size(), expected.size()) << tag.first;
        EXPECT_EQ(expected, text.substr(text.size() - expected.size())) << "errno " << tag.first;
        EXPECT_EQ("ctx: " + text, std::string(errnoEx::exception(tag.first, "ctx").what()));
    }
    EXPECT_EQ("No space left on device. No more space for writing is available on the device [ENOSPC]",
              errnoEx::exception::Describe(28));
    EXPECT_EQ("Not enough memory is available for the attempted operator. [ENOMEM]", errnoEx::exception::Describe(12));
}

}  // namespace

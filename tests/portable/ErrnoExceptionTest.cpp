// The texts of errnoEx::exception: the errno table after the caller's context.
// Free of Windows: built natively with the sanitizers too.
#include "osh/ErrnoException.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace {

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

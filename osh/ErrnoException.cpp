#include "osh/ErrnoException.h"

namespace errnoEx {

namespace {

struct ErrnoText {
    int value;
    const char* text;
};

const ErrnoText kErrnoTexts[] = {
    {1, "[EPERM]"},
    {2, "No such file or directory. The specified file or directory does not exist or cannot be found. [ENOENT]"},
    {3, "[ESRCH]"},
    {4, "[EINTR]"},
    {5, "[EIO]"},
    {6, "[ENXIO]"},
    {7, "Argument list too long. [E2BIG]"},
    {8, "Exec format error. An attempt was made to execute a file that is not executable or that has an "
        "invalid executable-file format. [ENOEXEC]"},
    {9, "Bad file number. Two possible causes are a bad descriptor or a write attempt to file opened "
        "read-only. [EBADF]"},
    {10, "No spawned processes. [ECHILD]"},
    {11, "An attempt to create a new process failed. [EAGAIN]"},
    {12, "Not enough memory is available for the attempted operator. [ENOMEM]"},
    {13, "Permission denied. The file's permission setting does not allow the specified access. [EACCES]"},
    {14, "[EFAULT]"},
    {16, "[EBUSY]"},
    {17, "Files exist. An attempt has been made to create a file that already exists. [EEXIST]"},
    {18, "Cross-device link. An attempt was made to move a file to a different device. [EXDEV]"},
    {19, "[ENODEV]"},
    {20, "[ENOTDIR]"},
    {21, "[EISDIR]"},
    {22, "Invalid argument. An invalid value was given for one of the arguments to a function. [EINVAL]"},
    {23, "[ENFILE]"},
    {24, "Too many open files. No more file descriptors are available. [EMFILE]"},
    {25, "[ENOTTY]"},
    {27, "[EFBIG]"},
    {28, "No space left on device. No more space for writing is available on the device [ENOSPC]"},
    {29, "[ESPIPE]"},
    {30, "[EROFS]"},
    {31, "[EMLINK]"},
    {32, "[EPIPE]"},
    {33, "Math argument. [EDOM]"},
    {34, "Result too large. An argument to a function is too large [ERANGE]"},
    {36, "Resource deadlock would occur. [EDEADLK]"},
    {38, "[ENAMETOOLONG]"},
    {39, "[ENOLCK]"},
    {40, "[ENOSYS]"},
    {41, "[ENOTEMPTY]"},
    {42, "Illegal sequence of bytes (for example, in an MBCS string). [EILSEQ]"},
    {80, "A string copy or concatenation resulted in a truncated string. See _TRUNCATE. [STRUNCATE]"},
};

}  // namespace

std::string exception::Describe(int errnoValue)
{
    for (const auto& entry : kErrnoTexts) {
        if (entry.value == errnoValue) return entry.text;
    }
    return "Unknown errno value " + std::to_string(errnoValue) + ".";
}

exception::exception(int errnoValue, const std::string& context)
    : std::runtime_error(context + ": " + Describe(errnoValue)), errnoValue_(errnoValue)
{
}

exception::~exception() = default;

}  // namespace errnoEx

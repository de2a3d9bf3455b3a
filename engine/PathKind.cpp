#include "engine/PathKind.h"

namespace ziz {

namespace {

struct PathKindTexts {
    const wchar_t* name;
    const char* directory;
    const char* file;
};

const PathKindTexts kTexts[] = {
    {L"evInitial", "of executable", "of executable"},
    {L"evSetup", "for Setup files", "for Setup"},
    {L"evInstall", "of program installation", "of program installation"},
    {L"evInstall32", "of 32-bit program installation", "of 32-bit program installation"},
    {L"evInstall64", "of 64-bit program installation", "of 64-bit program installation"},
    {L"evTempDir", "for temporary files", "for temporary file"},
    {L"evLog", "for log files", "for log file"},
};

const PathKindTexts kInvalid = {L"evInvalid", " of UNKNOWN type", " of UNKNOWN type"};

const PathKindTexts& TextsOf(PathKind kind)
{
    const int index = static_cast<int>(kind);
    if (index < 0 || index >= static_cast<int>(sizeof(kTexts) / sizeof(kTexts[0]))) return kInvalid;
    return kTexts[index];
}

}  // namespace

const wchar_t* PathKindName(PathKind kind) { return TextsOf(kind).name; }

const char* PathKindDirectoryText(PathKind kind) { return TextsOf(kind).directory; }

const char* PathKindFileText(PathKind kind) { return TextsOf(kind).file; }

}  // namespace ziz

#include "support/Links.h"

#include "support/StateFiles.h"
#include "support/TestEnvironment.h"

#include <windows.h>

#include <stdexcept>

namespace testsupport {

namespace {

const char kCanaryText[] = "canary";

// The Unix path Wine keeps a Windows path at; the link's own folder must exist.
std::string UnixPathOf(const std::wstring& path)
{
    using Converter = char*(CDECL*)(const wchar_t*);
    const auto convert = reinterpret_cast<Converter>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    if (convert == nullptr) throw std::runtime_error("not running under Wine: no Unix paths");
    char* unixPath = convert(path.c_str());
    if (unixPath == nullptr) throw std::runtime_error("no Unix path for " + testenv::Narrow(path));
    const std::string result = unixPath;
    HeapFree(GetProcessHeap(), 0, unixPath);
    return result;
}

// Wine starts Unix programs through "start /unix"; callers wait for the effect.
void RunUnixCommand(const std::wstring& command) { testenv::Run(L"start.exe /wait /unix " + command, 60000); }

}  // namespace

void MakeFolderLink(const std::wstring& link, const std::wstring& target)
{
    // Wine's CreateSymbolicLinkW does nothing, yet Wine reports a Unix symbolic link as a
    // reparse point: the link is made from the Unix side through "start /unix".
    const DWORD expected = FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY;
    RunUnixCommand(L"/bin/ln -s \"" + testenv::Widen(UnixPathOf(target)) + L"\" \"" +
                   testenv::Widen(UnixPathOf(link)) + L"\"");
    DWORD attributes = INVALID_FILE_ATTRIBUTES;
    for (int wait = 0; wait < 400 && attributes == INVALID_FILE_ATTRIBUTES; ++wait) {
        attributes = GetFileAttributesW(link.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) Sleep(50);
    }
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & expected) != expected)
        throw std::runtime_error(testenv::Narrow(link) + " is not reported as a link (attributes " +
                                 std::to_string(attributes) + ")");
}

FolderLink::FolderLink(const std::wstring& link, const std::wstring& target) : path(link)
{
    MakeFolderLink(link, target);
}

FolderLink::~FolderLink()
{
    if (!Present()) return;
    try {
        RunUnixCommand(L"/bin/rm -f \"" + testenv::Widen(UnixPathOf(path)) + L"\"");
        // The Unix program may end after "start" did; the next step may reuse the name.
        for (int wait = 0; wait < 400 && Present(); ++wait) Sleep(50);
    } catch (const std::exception&) {
        // Left behind in the scratch tree; the test has already reported what matters.
    }
}

bool FolderLink::Present() const
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

bool SystemRemovesLinks() { return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") == nullptr; }

CanaryFolder::CanaryFolder(const std::wstring& prefix)
    : folder(testenv::MakeScratchDirectory(prefix)), canary(folder + L"\\canary.txt")
{
    WriteTextFile(canary, kCanaryText);
}

CanaryFolder::~CanaryFolder() { testenv::RemoveTree(folder); }

bool CanaryFolder::Intact() const
{
    return GetFileAttributesW(folder.c_str()) != INVALID_FILE_ATTRIBUTES && ReadTextFile(canary) == kCanaryText;
}

}  // namespace testsupport

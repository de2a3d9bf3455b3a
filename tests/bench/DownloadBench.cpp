// Times the engine's transfers for scripts/bench.sh:
//   DownloadBench plain URL FILE            osh::DownloadToFile alone
//   DownloadBench item URL FILE MD5 SIZE    ziz::DownloadItem: the transfer and the file's checks
// Prints the milliseconds and "ok", or the milliseconds and why it failed; exit code 0 or 1.
#include "engine/Downloader.h"
#include "engine/OSWorker.h"
#include "osh/Download.h"

#include <windows.h>

#include <cstdio>
#include <exception>
#include <string>

namespace {

bool RunItem(const std::wstring& url, const std::wstring& file, const std::wstring& md5, const std::wstring& size,
             std::string& failure)
{
    InstallItem item;
    const size_t slash = file.find_last_of(L'\\');
    item.Filename = slash == std::wstring::npos ? file : file.substr(slash + 1);
    item.Url = url;
    item.Hash = md5;
    item.Size = size;
    item.LocalPath = file;
    ziz::OSWorker engine;
    try {
        ziz::DownloadItem(engine, item, 0, 1, false);
        return true;
    } catch (const std::exception& error) {
        failure = error.what();
        return false;
    }
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    const std::wstring mode = argc > 1 ? argv[1] : L"";
    if (!((mode == L"plain" && argc == 4) || (mode == L"item" && argc == 6))) return 2;
    std::string failure = "transfer failed";
    const ULONGLONG start = GetTickCount64();
    const bool ok = mode == L"plain" ? osh::DownloadToFile(argv[3], argv[2])
                                     : RunItem(argv[2], argv[3], argv[4], argv[5], failure);
    const ULONGLONG ms = GetTickCount64() - start;
    std::printf("%llu %s\n", ms, ok ? "ok" : failure.c_str());
    return ok ? 0 : 1;
}

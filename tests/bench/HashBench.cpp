// Times the engine's file digests on one file: prints "<milliseconds> <digest>".
//   HashBench md5 FILE      MD5 alone over the engine's block reader (compare with md5sum)
//   HashBench sha256 FILE   SHA-256 alone over the same reader (compare with sha256sum)
//   HashBench both FILE     osh::CalculateFileDigests, both in one pass, as the engine checks
//                           files; prints the SHA-256
#include "osh/FileHash.h"
#include "osh/Text.h"

#include <Poco/DigestEngine.h>
#include <Poco/MD5Engine.h>
#include <Poco/SHA2Engine.h>

#include <windows.h>

#include <cstdio>
#include <exception>
#include <stdexcept>
#include <string>

namespace {

std::string DigestOf(Poco::DigestEngine& engine, const std::wstring& path)
{
    osh::ReadFileBlocks(path, [&engine](const unsigned char* data, std::size_t size) { engine.update(data, size); });
    return Poco::DigestEngine::digestToHex(engine.digest());
}

std::string Measure(const std::wstring& mode, const std::wstring& path)
{
    if (mode == L"md5") {
        Poco::MD5Engine md5;
        return DigestOf(md5, path);
    }
    if (mode == L"sha256") {
        Poco::SHA2Engine sha256(Poco::SHA2Engine::SHA_256);
        return DigestOf(sha256, path);
    }
    if (mode == L"both") return osh::Narrow(osh::CalculateFileDigests(path).Sha256);
    throw std::invalid_argument("unknown mode " + osh::Narrow(mode));
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: HashBench md5|sha256|both FILE\n");
        return 2;
    }
    LARGE_INTEGER frequency{}, start{}, end{};
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    try {
        const std::string digest = Measure(argv[1], argv[2]);
        QueryPerformanceCounter(&end);
        std::printf("%.1f %s\n", 1000.0 * (end.QuadPart - start.QuadPart) / frequency.QuadPart, digest.c_str());
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
    return 0;
}

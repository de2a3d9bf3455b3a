#pragma once
// A Worker whose operating-system operations answer from plain members, so the engine's
// own logic can be tested without the platform behind OSWorker.
#include "engine/Worker.h"

#include <map>
#include <string>
#include <vector>

namespace testsupport {

class TestWorker : public ziz::Worker {
public:
    // Kinds without an entry fail, as an unresolvable location does.
    std::map<int, std::wstring> paths;
    std::map<int, std::wstring> fileNames;
    bool is64BitOs = true;

    std::wstring GetApplianceScriptPath() override { return std::wstring(); }
    bool GetPath(std::wstring& path, ziz::PathKind kind) override { return Answer(paths, kind, path); }
    bool GetUpdateUrl(std::wstring& url) override
    {
        url.clear();
        return false;
    }
    bool GetFileName(std::wstring& name, ziz::PathKind kind) override { return Answer(fileNames, kind, name); }
    bool CreateTempFile(std::wstring& path) override
    {
        path.clear();
        return false;
    }
    bool LoadEmbeddedSequence(InstallSequence&) override { return false; }
    bool GetFileVersion(std::wstring& version, const std::wstring&) override
    {
        version.clear();
        return false;
    }
    bool Is64BitOs() override { return is64BitOs; }

    // Parses the program's arguments as Setup.exe would be started with them.
    void ParseArguments(std::vector<std::wstring> arguments)
    {
        arguments.insert(arguments.begin(), L"Setup.exe");
        ParseCommandLine(arguments);
    }

private:
    static bool Answer(const std::map<int, std::wstring>& table, ziz::PathKind kind, std::wstring& out)
    {
        const auto found = table.find(static_cast<int>(kind));
        if (found == table.end()) {
            out.clear();
            return false;
        }
        out = found->second;
        return true;
    }
};

}  // namespace testsupport

#pragma once
// A test engine for the states: locations and file names come from maps (TestWorker),
// file versions and the embedded sequence come from the real files and resources, and
// every notification is recorded in order.
#include "support/TestWorker.h"

#include "engine/FileVersion.h"
#include "sequence/Blob.h"
#include "sequence/SequenceLoader.h"

#include <string>
#include <vector>

namespace testsupport {

struct Notification {
    ziz::EngineStatus status;
    int a;
    int b;
    bool operator==(const Notification& other) const
    {
        return status == other.status && a == other.a && b == other.b;
    }
};

class StateWorker : public TestWorker {
public:
    bool hasUpdateUrl = false;
    std::wstring updateUrl;
    bool embeddedSequenceLoads = true;
    std::wstring applianceScript;
    std::vector<Notification> notifications;

    explicit StateWorker(const std::vector<std::wstring>& arguments = {L"C:\\Media\\Setup.exe"})
    {
        ParseCommandLine(arguments);
    }

    void Notify(ziz::EngineStatus status, int a = 0, int b = 0) override
    {
        TestWorker::Notify(status, a, b);
        notifications.push_back({status, a, b});
    }
    bool GetUpdateUrl(std::wstring& url) override
    {
        url = hasUpdateUrl ? updateUrl : std::wstring();
        return hasUpdateUrl;
    }
    bool GetFileVersion(std::wstring& version, const std::wstring& path) override
    {
        return ziz::ReadFileVersion(version, path);
    }
    bool LoadEmbeddedSequence(InstallSequence& items) override
    {
        if (!embeddedSequenceLoads) return false;
        Blob blob;
        ReadResourceBlob(300, blob);
        return LoadPlatformSequence(blob, items, Is64BitOs());
    }
    std::wstring GetApplianceScriptPath() override { return applianceScript; }

    InstallSequence Items()
    {
        InstallSequence items;
        GetItems(items);
        return items;
    }
    std::wstring BestPath()
    {
        std::wstring path, version;
        GetBestCandidate(path, version);
        return path;
    }
    std::wstring BestVersion()
    {
        std::wstring path, version;
        GetBestCandidate(path, version);
        return version;
    }
};

}  // namespace testsupport

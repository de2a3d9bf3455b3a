#include "engine/policy/CacheLimit.h"

#include "engine/SetupFilesCache.h"
#include "engine/policy/PolicyKey.h"
#include "osh/Log.h"
#include "osh/PathCompare.h"
#include "osh/Text.h"
#include "sequence/Blob.h"
#include "sequence/SequenceLoader.h"

#include <exception>

namespace ziz {

namespace {

const unsigned int kEmbeddedSequenceResource = 300;

void AddNames(NameSet& names, const InstallSequence& items)
{
    for (const InstallItem& item : items) names.insert(item.Filename);
}

std::vector<CachedFile> Weigh(const std::vector<osh::FolderEntry>& entries, const NameSet& inUse)
{
    std::vector<CachedFile> files;
    for (const osh::FolderEntry& entry : entries) {
        // Folders and links are no components; they are neither counted nor removed.
        if (entry.kind != osh::EntryKind::File) continue;
        files.push_back({entry.name, entry.size, entry.lastWrite, inUse.count(entry.name) != 0});
    }
    return files;
}

std::uint64_t Total(const std::vector<CachedFile>& files)
{
    std::uint64_t total = 0;
    for (const CachedFile& file : files) total += file.size;
    return total;
}

}  // namespace

NameSet NamesInUse(Worker& worker)
{
    NameSet names;
    Blob blob;
    ReadResourceBlob(kEmbeddedSequenceResource, blob);
    InstallSequence complete;
    LoadCompleteSequence(blob, complete);  // without an appliance program the components still count
    AddNames(names, complete);
    InstallSequence items;
    worker.GetItems(items);
    AddNames(names, items);
    std::wstring setupName;
    if (worker.GetFileName(setupName, evSetup)) names.insert(setupName);
    return names;
}

void ApplyCacheLimit(Worker& worker)
{
    const auto& limit = RunPolicies().cacheLimitMB;
    if (!limit) return;
    const std::wstring policy = L"Policy CacheLimitMB=" + std::to_wstring(*limit);
    try {
        std::wstring setupDirectory;
        if (!worker.GetPath(setupDirectory, evSetup)) return;
        const std::optional<osh::PinnedFolder> folder = PinSetupFiles(setupDirectory);
        if (!folder) return;
        const std::uint64_t limitBytes = static_cast<std::uint64_t>(*limit) * 1024 * 1024;
        const std::vector<CachedFile> files = Weigh(folder->List(), NamesInUse(worker));
        std::uint64_t total = Total(files);
        for (const std::wstring& name : ChooseCacheRemovals(files, limitBytes)) {
            std::uint64_t size = 0;
            for (const CachedFile& file : files) size = file.name == name ? file.size : size;
            try {
                if (!folder->Remove(name)) continue;
                total -= size;
                osh::LogInformation(policy + L": removed " + name + L" (" + std::to_wstring(size) +
                                    L" bytes) from the setup files");
            } catch (const std::exception& error) {
                osh::LogWarning(policy + L": could not remove " + name + L": " + osh::Widen(error.what()));
            }
        }
        if (total > limitBytes)
            osh::LogWarning(policy + L": the setup files still hold " + std::to_wstring(total) +
                            L" bytes, all of them needed by this release");
    } catch (const std::exception& error) {
        osh::LogWarning(policy + L": the setup files were left as they are: " + osh::Widen(error.what()));
    }
}

}  // namespace ziz

#include "engine/states/StateMigrateFiles.h"

#include "engine/TreeCopy.h"
#include "engine/states/StateCreateCLID.h"
#include "engine/states/StateFailed.h"
#include "engine/states/StateInitializing.h"
#include "osh/FileSystem.h"
#include "osh/Log.h"
#include "osh/PinnedFolder.h"
#include "osh/Text.h"

#include <stdexcept>

namespace ziz {

namespace {

// The data directory holds the Setup directory.
std::wstring MigrationTarget(Worker& worker)
{
    return osh::GetFullPath(osh::AppendBackslash(worker.RequirePath(evSetup)) + L"..");
}

WorkerState* StateAfterMigration(Worker& worker)
{
    std::wstring clid;
    if (worker.GetOption(L"clid", clid) && !clid.empty()) return StateCreateCLID::Instance();
    return StateInitializing::Instance();
}

}  // namespace

StateMigrateFiles StateMigrateFiles::instance_;

StateMigrateFiles::StateMigrateFiles() : WorkerState(L"MigrateFiles") {}

StateMigrateFiles* StateMigrateFiles::Instance() { return &instance_; }

WorkerState* StateMigrateFiles::Exec(Worker& worker)
{
    try {
        std::wstring source;
        if (!worker.GetOption(L"migrate", source))
            throw std::runtime_error("Data migration option expected but not found.");
        if (!osh::IsDirectory(source)) {
            osh::LogInformation("Migration path not found, data migration ignored.");
            return StateInitializing::Instance();
        }
        const std::wstring target = MigrationTarget(worker);
        // Made without following a link on the way; a link there refuses the copy.
        try {
            osh::PinnedFolder::OpenCreating(target, osh::kCreatedDirectorySddl);
        } catch (const osh::RefusedEntry& refused) {
            throw std::runtime_error("Copy to \"" + osh::Narrow(target) + "\" refused: \"" + osh::Narrow(refused.Path()) +
                                     (refused.Kind() == osh::EntryKind::Link ? "\" is a link" : "\" is not a folder"));
        } catch (const std::exception&) {
            osh::LogWarning("Could not create migration target path, data migration ignored.");
            return StateInitializing::Instance();
        }
        TreeCopy(target, source, L".*");
        TreeCopy(target, source, L"db");
        return StateAfterMigration(worker);
    } catch (const std::exception& e) {
        osh::LogError(e.what());
        return StateFailed::Instance();
    }
}

}  // namespace ziz

#include "engine/WorkerState.h"

#include "engine/HookScript.h"
#include "engine/states/StateCreateCLID.h"
#include "engine/states/StateInitializing.h"
#include "engine/states/StateMigrateFiles.h"

namespace ziz {

namespace {

bool HasOptionValue(Worker& worker, const wchar_t* name)
{
    std::wstring value;
    return worker.GetOption(name, value) && !value.empty();
}

}  // namespace

WorkerState::WorkerState(const std::wstring& name) : Name(name) {}

WorkerState::~WorkerState() = default;

WorkerState* WorkerState::RunState(Worker& worker)
{
    RunHookScript(worker, Name);
    return Exec(worker);
}

WorkerState* GetInitialState(Worker& worker)
{
    if (HasOptionValue(worker, L"migrate")) return StateMigrateFiles::Instance();
    if (HasOptionValue(worker, L"clid")) return StateCreateCLID::Instance();
    return StateInitializing::Instance();
}

}  // namespace ziz

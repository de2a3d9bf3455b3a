#include "engine/states/StateCreateCLID.h"

#include "engine/states/StateFailed.h"
#include "engine/states/StateInitializing.h"
#include "osh/Log.h"
#include "osh/PersistentStore.h"
#include "osh/Registry.h"

#include <windows.h>

#include <stdexcept>

namespace ziz {

namespace {

// Read and write access in the 64-bit view, so the 64-bit product finds the value.
constexpr REGSAM kClientIdKeyAccess = KEY_READ | KEY_WRITE | KEY_WOW64_64KEY;
static_assert(kClientIdKeyAccess == 0x2011F, "client id key access");

std::wstring RequireWellKnownValue(const wchar_t* name, const char* failure)
{
    std::wstring value;
    if (!osh::GetWellKnownValue(name, value)) throw std::runtime_error(failure);
    return value;
}

void StoreClientId(const std::wstring& clid)
{
    const std::wstring company = RequireWellKnownValue(L"company", "Unable to load company name.");
    const std::wstring product = RequireWellKnownValue(L"product", "Unable to load product name.");
    const std::wstring keyPath = L"SOFTWARE\\" + company + L"\\" + product + L"\\OrganizationDefaults";
    osh::ScopedKey key =
        osh::CreateKey(HKEY_LOCAL_MACHINE, keyPath, L"", REG_OPTION_NON_VOLATILE, kClientIdKeyAccess, nullptr, nullptr);
    osh::SetString(key.get(), L"CLID", clid);
}

}  // namespace

StateCreateCLID StateCreateCLID::instance_;

StateCreateCLID::StateCreateCLID() : WorkerState(L"CreateCLID") {}

StateCreateCLID* StateCreateCLID::Instance() { return &instance_; }

WorkerState* StateCreateCLID::Exec(Worker& worker)
{
    try {
        std::wstring clid;
        if (!worker.GetOption(L"clid", clid) || clid.empty())
            throw std::runtime_error("CLID option expected but not found.");
        StoreClientId(clid);
        return StateInitializing::Instance();
    } catch (const std::exception& e) {
        osh::LogError(e.what());
        return StateFailed::Instance();
    }
}

}  // namespace ziz

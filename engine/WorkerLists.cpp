#include "engine/Worker.h"

#include "osh/Log.h"
#include "osh/PersistentStore.h"

#include <exception>

namespace ziz {

namespace {

const wchar_t kUninstallGroup[] = L"uninstall";
// Numbering gaps the lists tolerate, counted over the whole walk.
const int kMissesToEnd = 3;

}  // namespace

void Worker::LoadList(std::map<std::wstring, std::wstring>& list, const std::wstring& group)
{
    int misses = 0;
    for (unsigned index = 0; misses < kMissesToEnd; ++index) {
        const std::wstring key = std::to_wstring(index);
        std::wstring value;
        if (osh::GetPersistentValue(group, key, value))
            list.emplace(key, value);
        else
            ++misses;
    }
}

void Worker::AddToList(const std::wstring& value, const std::wstring& group)
{
    try {
        for (unsigned index = 0;; ++index) {
            const std::wstring key = std::to_wstring(index);
            std::wstring existing;
            if (!osh::GetPersistentValue(group, key, existing)) {
                osh::SetPersistentValue(group, key, value);
                return;
            }
            if (existing == value) return;
        }
    } catch (const std::exception& error) {
        osh::LogWarning(error.what());
    }
}

void Worker::LoadUninstallList(std::map<std::wstring, std::wstring>& list) { LoadList(list, kUninstallGroup); }

void Worker::AddUninstallEntry(const std::wstring& value) { AddToList(value, kUninstallGroup); }

}  // namespace ziz

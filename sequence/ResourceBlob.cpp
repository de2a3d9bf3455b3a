// Reading an embedded document out of the executable's resources.
#include "sequence/Blob.h"

#include "osh/Exception.h"

#include <windows.h>

#include <cstring>
#include <stdexcept>

void ReadResourceBlob(unsigned int id, Blob& blob)
{
    HMODULE module = GetModuleHandleW(nullptr);
    if (module == nullptr) throw win::exception(GetLastError(), "GetModuleHandle(NULL)");

    // Language 0 leaves the choice among language variants to the system's lookup.
    HRSRC resource = FindResourceExW(module, RT_RCDATA, MAKEINTRESOURCEW(id), 0);
    if (resource == nullptr) throw win::exception(GetLastError(), "FindResourceEx()");

    // Resources of a loaded module need neither unlocking nor freeing.
    HGLOBAL loaded = LoadResource(module, resource);
    const void* bytes = loaded != nullptr ? LockResource(loaded) : nullptr;
    if (bytes == nullptr) throw std::runtime_error("Unable to lock resource");

    const DWORD size = SizeofResource(module, resource);
    if (size == 0) throw win::exception(GetLastError(), "SizeofResource()");

    blob.resize(size);
    std::memcpy(blob.data(), bytes, size);
}

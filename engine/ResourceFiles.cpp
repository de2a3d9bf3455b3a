#include "engine/ResourceFiles.h"

#include "osh/Exception.h"
#include "osh/FileSystem.h"
#include "osh/ScopedHandle.h"
#include "osh/SystemInfo.h"

#include <windows.h>

#include <stdexcept>

namespace ziz {

void WriteResourceBytes(unsigned int id, const std::wstring& path)
{
    // The resource is looked up first, so a missing one leaves no empty file behind.
    HMODULE module = osh::ModuleHandle(nullptr);
    HRSRC resource = osh::FindResourceOrThrow(module, RT_RCDATA, MAKEINTRESOURCEW(id),
                                              MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL));
    const DWORD size = osh::ResourceSize(module, resource);
    const void* data = osh::LoadResourceData(module, resource);
    osh::ScopedFile file(
        osh::OpenFile(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (osh::WriteFile(file.get(), data, size, nullptr) < size)
        throw std::runtime_error("Could not write all resource data to file.");
    // A failed close may mean the data never reached the disk.
    if (!file.reset()) throw win::exception(GetLastError(), "CloseHandle()");
}

}  // namespace ziz

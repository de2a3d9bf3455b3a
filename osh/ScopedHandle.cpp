#include "osh/ScopedHandle.h"

#include <objbase.h>
#include <mscat.h>

namespace osh {

bool CoTaskMemoryTraits::Close(void* p)
{
    CoTaskMemFree(p);
    return true;
}

bool CatalogAdminTraits::Close(HANDLE h) { return CryptCATAdminReleaseContext(h, 0) != FALSE; }

bool CatalogContextTraits::Close(const CatalogContext& c)
{
    return CryptCATAdminReleaseCatalogContext(c.admin, c.info, 0) != FALSE;
}

}  // namespace osh

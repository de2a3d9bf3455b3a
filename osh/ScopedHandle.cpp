#include "osh/ScopedHandle.h"

#include <objbase.h>

namespace osh {

bool CoTaskMemoryTraits::Close(void* p)
{
    CoTaskMemFree(p);
    return true;
}

}  // namespace osh

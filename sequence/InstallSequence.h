#pragma once
// An ordered list of components; items run in ascending "Order". Free of Windows headers.
#include "sequence/InstallItem.h"

#include <list>

using InstallSequence = std::list<InstallItem>;

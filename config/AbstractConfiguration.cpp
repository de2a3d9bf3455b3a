#include "config/AbstractConfiguration.h"

namespace Norlo {
namespace Config {

AbstractConfiguration::AbstractConfiguration() { InitializeCriticalSection(&lock_); }

AbstractConfiguration::~AbstractConfiguration() { DeleteCriticalSection(&lock_); }

}  // namespace Config
}  // namespace Norlo

#include "config/MapConfiguration.h"

namespace Norlo {
namespace Config {

MapConfiguration::~MapConfiguration() = default;

}  // namespace Config
}  // namespace Norlo

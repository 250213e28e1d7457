#include "imath/io_system.h"

namespace imath {

IOSystem::~IOSystem() = default;

} // namespace imath

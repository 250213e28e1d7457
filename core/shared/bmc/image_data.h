#ifndef BMC_IMAGE_DATA_H
#define BMC_IMAGE_DATA_H

#include <cstdint>
#include <vector>

namespace bmc {

// The bytes of a firmware image, held whole in memory. It is the very byte vector that the
// image commands of a connection carry, so images reach a board and come back from it without
// a conversion.
using ImageData = std::vector<uint8_t>;

} // namespace bmc

#endif

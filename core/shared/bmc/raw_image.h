#ifndef BMC_RAW_IMAGE_H
#define BMC_RAW_IMAGE_H

// FPGA configuration bitstreams as flat byte arrays, and image files.

#include <cstddef>
#include <cstdint>
#include <string>

#include "bmc/bmc_export.h"
#include "bmc/image_data.h"

namespace bmc {

class BMC_API RawImage {
public:
    // Both copy the bytes.
    RawImage(const uint8_t* data, uint32_t size);
    explicit RawImage(const ImageData& data);
    explicit RawImage(ImageData&& data);

    const ImageData& GetBuffer() const { return m_data; }

    // Cuts everything before the bitstream's sync word: FF FF FF FF AA 99, or, only when that
    // occurs nowhere in the image, FF FF BD B3. False, and the image is left as it is, when
    // neither occurs or the first found begins after byte c_syncWordWindow.
    bool StripToSyncWord();

    static constexpr size_t c_syncWordWindow = 512;

private:
    ImageData m_data;
};

// The whole content of a regular file. Throws istd::Exception "bmc: Can't read file: " + path
// when the file cannot be opened or is not read whole.
BMC_API ImageData ReadImageFromFile(const std::string& path);

// Creates or truncates the file and writes all bytes. Throws istd::Exception "bmc: Can't write
// file: " + path when the file cannot be opened or not every byte reaches it; an empty array
// throws std::out_of_range and leaves the file empty.
BMC_API void WriteImageToFile(const std::string& path, const ImageData& data);

} // namespace bmc

#endif

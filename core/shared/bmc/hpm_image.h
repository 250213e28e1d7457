#ifndef BMC_HPM_IMAGE_H
#define BMC_HPM_IMAGE_H

// HPM.1 firmware upgrade images: built around a raw bitstream, checked, and taken apart.
//
// Layout as built here (little-endian; n = firmware length):
//     0..34    upgrade image header, no OEM data, checksum at 34
//     35..37   one action record "upload firmware image" for component 0, checksum at 37
//     38..64   firmware version (major, BCD minor, 32-bit auxiliary), description (board type)
//     65..68   firmware length n
//     69..     the n firmware bytes, then the MD5 digest of everything before it

#include <cstddef>
#include <cstdint>

#include "bmc/bmc_export.h"
#include "bmc/image_data.h"
#include "bmc/raw_image.h"
#include "bmc/types.h"

namespace bmc {

class BMC_API HpmImage {
public:
    static constexpr char c_signature[] = "PICMGFWU";
    static constexpr uint32_t c_manufacturerId = 0x00C0DE; // the maker's IANA number, 24 bits
    static constexpr size_t c_lengthOffset = 65;            // firmware length, 32 bits
    static constexpr size_t c_firmwareOffset = 69;          // header and action record before it
    static constexpr size_t c_digestSize = 16;
    static constexpr size_t c_overhead = c_firmwareOffset + c_digestSize;
    static constexpr size_t c_maxTypeName = 5;

    // An empty image: a buffer for Build and CreateHpmImage to fill.
    HpmImage() = default;
    // Copy the bytes unchecked; CreateHpmImage checks them.
    HpmImage(const uint8_t* data, size_t size);
    explicit HpmImage(const ImageData& data);
    // Builds the upgrade image around the raw image. A major version above 127 or a minor one
    // above 99 is clamped. Throws istd::Exception for a board type without a name and for a
    // raw image the 32-bit length field cannot hold.
    HpmImage(const RawImage& raw, uint8_t major, uint8_t minor, uint32_t aux, BoardType_e type);
    // The same into this image, whose memory is reused when it is large enough; a raw image or
    // type that the constructor refuses leaves the image as it was.
    void Build(const RawImage& raw, uint8_t major, uint8_t minor, uint32_t aux, BoardType_e type);

    // The whole upgrade image.
    const ImageData& GetBuffer() const { return m_data; }

    // The accessors below throw std::out_of_range for an empty image and istd::Exception
    // "HPM: Invalid image size." for one shorter than c_overhead.
    void GetHpmImageVersion(uint8_t& major, uint8_t& minor, uint32_t& aux) const;
    // The board type named by the description; eBoardTypeInvalid (traced) when it names none.
    BoardType_e GetHpmImageType() const;
    // The firmware bytes: from c_firmwareOffset to the digest at the end.
    operator RawImage() const;

    // The firmware length field of an image, or of its first c_firmwareOffset bytes alone as a
    // reader that fetches an image block by block has them. Throws istd::Exception "HPM:
    // Invalid image size." when the field is not within the bytes given.
    static uint32_t GetFirmwareLength(const uint8_t* data, size_t size);

private:
    friend BMC_API void CreateHpmImage(const uint8_t* data, size_t size, HpmImage& image);
    friend BMC_API HpmImage CreateHpmImage(ImageData&& data);

    void _CheckSize() const;

    ImageData m_data;
};

// Checks an upgrade image (signature, header and action record checksums, size, MD5) and
// copies it whole into an HpmImage. Throws istd::Exception "HPM: ..." on a bad image. The bytes
// are hashed where they are and copied once, as they are hashed.
BMC_API HpmImage CreateHpmImage(const uint8_t* data, size_t size);
BMC_API HpmImage CreateHpmImage(const ImageData& data);
// The same into image, whose memory is reused when it is large enough; a bad image leaves it
// empty.
BMC_API void CreateHpmImage(const uint8_t* data, size_t size, HpmImage& image);
// Takes the bytes over without a copy once they are checked; a bad image leaves them as they were.
BMC_API HpmImage CreateHpmImage(ImageData&& data);

} // namespace bmc

#endif

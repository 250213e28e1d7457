// HPM upgrade image files and raw bitstreams on arbitrary bytes. Every refusal must be an
// istd::Exception (std::out_of_range for an empty image, as the accessors promise); anything
// else (another exception, a sanitizer report, a broken invariant) is a finding.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "bmc/hpm_image.h"
#include "bmc/raw_image.h"

namespace {

void Require(bool condition)
{
    if (!condition) {
        std::abort();
    }
}

// The accessors of an unchecked image: they answer for every image of at least the fixed
// fields' size and refuse every shorter one.
void TryAccessors(const bmc::HpmImage& image)
{
    const size_t size = image.GetBuffer().size();
    try {
        uint8_t major = 0, minor = 0;
        uint32_t aux = 0;
        image.GetHpmImageVersion(major, minor, aux);
        image.GetHpmImageType();
        const bmc::RawImage raw = image;
        Require(raw.GetBuffer().size() == size - bmc::HpmImage::c_overhead);
    } catch (const istd::Exception&) {
        Require(size > 0 && size < bmc::HpmImage::c_overhead);
    } catch (const std::out_of_range&) {
        Require(size == 0);
    }
}

// A checked image, taken apart and built again, passes the check and gives back the same
// firmware, version (as the build clamps it) and board type.
void TryRebuild(const bmc::HpmImage& image)
{
    uint8_t major = 0, minor = 0;
    uint32_t aux = 0;
    image.GetHpmImageVersion(major, minor, aux);
    const bmc::BoardType_e type = image.GetHpmImageType();
    const bmc::RawImage raw = image;
    const bmc::HpmImage rebuilt(raw, major, minor, aux, type);
    const bmc::HpmImage checked = bmc::CreateHpmImage(rebuilt.GetBuffer());
    uint8_t major2 = 0, minor2 = 0;
    uint32_t aux2 = 0;
    checked.GetHpmImageVersion(major2, minor2, aux2);
    Require(major2 == std::min<uint8_t>(major, 127) && minor2 == std::min<uint8_t>(minor, 99) &&
            aux2 == aux);
    Require(checked.GetHpmImageType() == type);
    Require(static_cast<bmc::RawImage>(checked).GetBuffer() == raw.GetBuffer());
}

void TryStrip(const uint8_t* data, size_t size)
{
    bmc::RawImage raw(data, static_cast<uint32_t>(size));
    if (!raw.StripToSyncWord()) {
        Require(raw.GetBuffer().size() == size &&
                (size == 0 || std::memcmp(raw.GetBuffer().data(), data, size) == 0));
        return;
    }
    const size_t cut = size - raw.GetBuffer().size();
    Require(cut <= bmc::RawImage::c_syncWordWindow);
    const uint8_t* rest = raw.GetBuffer().data();
    static const uint8_t c_long[] = {0xFF, 0xFF, 0xFF, 0xFF, 0xAA, 0x99};
    static const uint8_t c_short[] = {0xFF, 0xFF, 0xBD, 0xB3};
    Require((raw.GetBuffer().size() >= 6 && std::memcmp(rest, c_long, 6) == 0) ||
            (raw.GetBuffer().size() >= 4 && std::memcmp(rest, c_short, 4) == 0));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const bmc::HpmImage unchecked(data, size);
    TryAccessors(unchecked);
    try {
        const bmc::HpmImage image = bmc::CreateHpmImage(data, size);
        Require(image.GetBuffer() == unchecked.GetBuffer());
        TryRebuild(image);
    } catch (const istd::Exception& e) {
        Require(std::strncmp(e.what(), "HPM: ", 5) == 0);
    }
    TryStrip(data, size);
    return 0;
}

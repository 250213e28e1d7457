#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "bmc/raw_image.h"
#include "istd/trace_capture.h"

namespace {

using bmc::ImageData;

const ImageData c_long = {0xFF, 0xFF, 0xFF, 0xFF, 0xAA, 0x99};
const ImageData c_short = {0xFF, 0xFF, 0xBD, 0xB3};
const ImageData c_longCut(c_long.begin(), c_long.end() - 1);

struct Placed {
    size_t offset;
    const ImageData* word;
};

// Filler bytes that are part of no sync word, with the words placed at their offsets.
ImageData Bitstream(size_t size, const std::vector<Placed>& words)
{
    ImageData bytes(size, 0x11);
    for (const Placed& p : words) {
        std::copy(p.word->begin(), p.word->end(),
                  bytes.begin() + static_cast<ptrdiff_t>(p.offset));
    }
    return bytes;
}

TEST(RawImage, StripToSyncWord)
{
    struct Case {
        const char* what;
        ImageData bytes;
        bool found;
        size_t cut;        // bytes removed when found
        std::string trace; // a line expected among the traces
    };
    const std::vector<Case> cases = {
        {"at 0", Bitstream(100, {{0, &c_long}}), true, 0, "Pattern found on position: 0"},
        {"at 512", Bitstream(1000, {{512, &c_long}}), true, 512, "Pattern found on position: 512"},
        {"at 513", Bitstream(1000, {{513, &c_long}}), false, 0,
         "Sync word (preamble) is not in the first 512 bytes."},
        {"short word alone", Bitstream(1000, {{100, &c_short}}), true, 100,
         "Pattern found on position: 100"},
        {"long word wins over an earlier short one",
         Bitstream(1000, {{10, &c_short}, {300, &c_long}}), true, 300,
         "Pattern found on position: 300"},
        {"long word too far, short one ignored",
         Bitstream(1000, {{10, &c_short}, {600, &c_long}}), false, 0,
         "Sync word (preamble) is not in the first 512 bytes."},
        {"first of two long words", Bitstream(1000, {{20, &c_long}, {40, &c_long}}), true, 20, ""},
        {"long word at the very end", Bitstream(106, {{100, &c_long}}), true, 100, ""},
        {"long word cut at the end", Bitstream(105, {{100, &c_longCut}}), false, 0,
         "Sync word (preamble) not found in the input data."},
        {"none", Bitstream(1000, {}), false, 0,
         "Sync word (preamble) not found in the input data."},
        {"empty", ImageData(), false, 0, "Sync word (preamble) not found in the input data."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        bmc::RawImage image(c.bytes.data(), static_cast<uint32_t>(c.bytes.size()));
        istd::TraceCapture capture(istd::eTraceDetail);
        EXPECT_EQ(image.StripToSyncWord(), c.found);
        const ImageData expected(c.bytes.begin() + static_cast<ptrdiff_t>(c.cut), c.bytes.end());
        EXPECT_EQ(image.GetBuffer(), expected);
        if (!c.trace.empty()) {
            EXPECT_TRUE(capture.Contains(c.trace)) << capture.Text();
        }
    }
}

} // namespace

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "bmc/hpm_image.h"
#include "istd/trace_capture.h"

namespace {

using bmc::HpmImage;
using bmc::ImageData;

ImageData FromHex(const std::string& hex)
{
    ImageData bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) {
        bytes.push_back(static_cast<uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    }
    return bytes;
}

// Firmware bytes that hold no run of equal bytes, so a shifted copy never compares equal.
ImageData Firmware(size_t size)
{
    ImageData bytes(size);
    for (size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<uint8_t>(i * 7 + 3);
    }
    return bytes;
}

ImageData Build(const ImageData& raw, uint8_t major = 1, uint8_t minor = 2, uint32_t aux = 3,
                bmc::BoardType_e type = bmc::eBoardTypePAX)
{
    return HpmImage(bmc::RawImage(raw), major, minor, aux, type).GetBuffer();
}

std::string CheckFailure(const ImageData& image)
{
    try {
        bmc::CreateHpmImage(image);
    } catch (const istd::Exception& e) {
        return e.what();
    }
    return "";
}

// The image a test board hands out, worked out byte by byte apart from this code: every field
// of the layout, the checksums and the MD5 trailer.
TEST(HpmImageBuild, MatchesTheLayoutByteForByte)
{
    const std::string text = "This is a test";
    const ImageData raw(text.c_str(), text.c_str() + text.size() + 1);
    const ImageData expected = FromHex("5049434D47465755002CDEC0002C0000"
                                       "00000000010000000000000000000000"
                                       "0000A70201FD0101010000004B4F5A00"
                                       "00000000000000000000000000000000"
                                       "000F0000005468697320697320612074"
                                       "65737400C57741FA28EC6DC6A99D0F57"
                                       "14511397");
    EXPECT_EQ(Build(raw, 1, 1, 1, bmc::eBoardTypeKOZ), expected);
}

// Images of several hash pieces built and checked into an image in use, and bytes taken over.
TEST(HpmImageBuild, ReusedImagesAndTakenOverBytes)
{
    const ImageData raw = Firmware(200003);
    const ImageData fresh = Build(raw);
    HpmImage image(bmc::RawImage(Firmware(300000)), 1, 2, 3, bmc::eBoardTypePAX);
    image.Build(bmc::RawImage(raw), 1, 2, 3, bmc::eBoardTypePAX);
    EXPECT_EQ(image.GetBuffer(), fresh);
    EXPECT_THROW(image.Build(bmc::RawImage(raw), 1, 0, 0, static_cast<bmc::BoardType_e>(0)), istd::Exception);
    EXPECT_EQ(image.GetBuffer(), fresh);

    HpmImage checked(bmc::RawImage(Firmware(300000)), 1, 2, 3, bmc::eBoardTypePAX);
    bmc::CreateHpmImage(fresh.data(), fresh.size(), checked);
    EXPECT_EQ(checked.GetBuffer(), fresh);
    ImageData corrupt = fresh;
    corrupt[150000] ^= 1;
    try {
        bmc::CreateHpmImage(corrupt.data(), corrupt.size(), checked);
        ADD_FAILURE() << "a corrupt image was taken";
    } catch (const istd::Exception& e) {
        EXPECT_STREQ(e.what(), "HPM: Invalid MD5 signature.");
    }
    EXPECT_TRUE(checked.GetBuffer().empty());

    ImageData refused = corrupt;
    EXPECT_THROW(bmc::CreateHpmImage(std::move(refused)), istd::Exception);
    EXPECT_EQ(refused, corrupt); // NOLINT(bugprone-use-after-move): left as it was
    ImageData taken = fresh;
    EXPECT_EQ(bmc::CreateHpmImage(std::move(taken)).GetBuffer(), fresh);
}

TEST(HpmImageBuild, SizeLengthFieldAndRoundTrip)
{
    for (size_t size : {size_t{0}, size_t{1}, size_t{1000}}) {
        SCOPED_TRACE(size);
        const ImageData raw = Firmware(size);
        const ImageData image = Build(raw);
        ASSERT_EQ(image.size(), size + 85);
        EXPECT_EQ(HpmImage::GetFirmwareLength(image.data(), image.size()), size);
        const bmc::HpmImage checked = bmc::CreateHpmImage(image);
        EXPECT_EQ(checked.GetBuffer(), image);
        EXPECT_EQ(static_cast<bmc::RawImage>(checked).GetBuffer(), raw);
    }
}

TEST(HpmImageBuild, VersionIsStoredClampedAndReadBack)
{
    struct Case {
        uint8_t major, minor;
        uint32_t aux;
        std::string stored; // bytes 38..43
        uint8_t readMajor, readMinor;
        std::vector<std::string> traces;
    };
    const std::vector<Case> cases = {
        {3, 7, 513, "030701020000", 3, 7, {}},
        {0, 42, 0, "004200000000", 0, 42, {}},
        {127, 99, 0xFFFFFFFF, "7F99FFFFFFFF", 127, 99, {}},
        {200, 150, 0, "7F9900000000", 127, 99,
         {"bmc: Major version number adjusted to maximum value127",
          "bmc: Minor version number adjusted to maximum value 99"}},
        {128, 100, 0x01020304, "7F9904030201", 127, 99,
         {"adjusted to maximum value127", "adjusted to maximum value 99"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stored);
        istd::TraceCapture capture(istd::eTraceError);
        const HpmImage image(bmc::RawImage(Firmware(10)), c.major, c.minor, c.aux,
                             bmc::eBoardTypeZOLT);
        const ImageData& bytes = image.GetBuffer();
        EXPECT_EQ(ImageData(bytes.begin() + 38, bytes.begin() + 44), FromHex(c.stored));
        uint8_t major = 0, minor = 0;
        uint32_t aux = 0;
        image.GetHpmImageVersion(major, minor, aux);
        EXPECT_EQ(major, c.readMajor);
        EXPECT_EQ(minor, c.readMinor);
        EXPECT_EQ(aux, c.aux);
        EXPECT_EQ(capture.Lines().size(), c.traces.size());
        for (const std::string& trace : c.traces) {
            EXPECT_TRUE(capture.Contains(trace)) << trace;
        }
        EXPECT_EQ(bmc::CreateHpmImage(bytes).GetBuffer(), bytes);
    }
}

TEST(HpmImageBuild, EveryNamedBoardTypeReadsBack)
{
    for (const auto& [type, name] : istd::EnumMap<bmc::BoardType_e>::items) {
        SCOPED_TRACE(name);
        const HpmImage image(bmc::RawImage(Firmware(3)), 1, 0, 0, type);
        EXPECT_EQ(image.GetHpmImageType(), type);
        EXPECT_EQ(image.GetBuffer()[9], static_cast<uint8_t>(type));
        EXPECT_EQ(image.GetBuffer()[13], static_cast<uint8_t>(type));
        EXPECT_EQ(image.GetBuffer()[14], 0);
    }
}

TEST(HpmImageBuild, BoardTypeWithoutNameIsRefused)
{
    EXPECT_THROW(HpmImage(bmc::RawImage(Firmware(3)), 1, 0, 0, static_cast<bmc::BoardType_e>(0)),
                 istd::Exception);
}

// The description field as a reader finds it in images built elsewhere.
TEST(HpmImageType, DescriptionField)
{
    struct Case {
        std::string field; // written at offset 44, the rest of the 21 bytes kept zero
        bmc::BoardType_e type;
    };
    const std::vector<Case> cases = {
        {"PAX", bmc::eBoardTypePAX},
        {"44", bmc::eBoardTypeKOZ},              // a decimal value of the table
        {"MOKVEXYZ", bmc::eBoardTypeMOKVE},      // only five characters count
        {std::string("uTCA\0PAX", 8), bmc::eBoardTypeUTCA}, // ends at the first zero
        {"", bmc::eBoardTypeInvalid},
        {"pax", bmc::eBoardTypeInvalid},
        {"300", bmc::eBoardTypeInvalid},
        {"0x3e", bmc::eBoardTypeInvalid},
        {"INVA", bmc::eBoardTypeInvalid},
    };
    const ImageData built = Build(Firmware(20));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.field);
        ImageData bytes = built;
        std::fill(bytes.begin() + 44, bytes.begin() + 65, 0);
        std::copy(c.field.begin(), c.field.end(), bytes.begin() + 44);
        istd::TraceCapture capture(istd::eTraceError);
        EXPECT_EQ(HpmImage(bytes).GetHpmImageType(), c.type);
        EXPECT_EQ(capture.Contains("bmc: Board type is not set in the Hpm image file!"),
                  c.type == bmc::eBoardTypeInvalid && c.field != "INVA");
    }
}

TEST(HpmImageCheck, EachFailureInItsOrder)
{
    struct Case {
        const char* what;
        std::function<void(ImageData&)> change;
        std::string failure; // empty: the image passes
    };
    const std::string size = "HPM: Invalid image size.";
    const std::string signature = "HPM: Invalid signature.";
    const std::string header = "HPM: Invalid checksum of the image header.";
    const std::string action = "HPM: Invalid checksum of the action record.";
    const std::string md5 = "HPM: Invalid MD5 signature.";
    auto setLength = [](ImageData& b, uint32_t n) {
        for (size_t i = 0; i < 4; ++i) {
            b[65 + i] = static_cast<uint8_t>(n >> (8 * i));
        }
    };
    const std::vector<Case> cases = {
        {"as built", [](ImageData&) {}, ""},
        {"bytes after the digest are kept", [](ImageData& b) { b.push_back(0x5A); }, ""},
        {"signature", [](ImageData& b) { b[3] = 'X'; }, signature},
        {"format version 1", [](ImageData& b) { b[8] = 1; }, signature},
        {"signature before checksum", [](ImageData& b) { b[0] = 'X'; b[20] ^= 1; }, signature},
        {"components byte", [](ImageData& b) { b[20] ^= 1; }, header},
        {"header checksum", [](ImageData& b) { b[34] ^= 0x80; }, header},
        {"action type", [](ImageData& b) { b[35] = 3; }, action},
        {"action checksum", [](ImageData& b) { b[37] = 0; }, action},
        {"firmware byte", [](ImageData& b) { b[69 + 50] ^= 0x01; }, md5},
        {"last firmware byte", [](ImageData& b) { b[b.size() - 17] ^= 0x01; }, md5},
        {"version", [](ImageData& b) { b[38] ^= 0x01; }, md5},
        {"digest", [](ImageData& b) { b.back() ^= 0x01; }, md5},
        {"length shorter", [&](ImageData& b) { setLength(b, 99); }, md5},
        {"empty", [](ImageData& b) { b.clear(); }, size},
        {"84 bytes", [](ImageData& b) { b.resize(84); }, size},
        {"last byte missing", [](ImageData& b) { b.pop_back(); }, size},
        {"length one past", [&](ImageData& b) { setLength(b, 101); }, size},
        // 69 + m + 16 wraps to 0 in 32 bits; 69 + m wraps to a place inside the image
        {"length wraps", [&](ImageData& b) { setLength(b, 0xFFFFFFFFu - 84); }, size},
        {"length maximal", [&](ImageData& b) { setLength(b, 0xFFFFFFFFu); }, size},
        {"OEM data past the end", [](ImageData& b) { b[32] = 0xFF; b[33] = 0xFF; }, size},
    };
    const ImageData built = Build(Firmware(100));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ImageData bytes = built;
        c.change(bytes);
        EXPECT_EQ(CheckFailure(bytes), c.failure);
        if (c.failure.empty()) {
            EXPECT_EQ(bmc::CreateHpmImage(bytes.data(), bytes.size()).GetBuffer(), bytes);
        }
    }
}

// Unchecked images of any length: the accessors read their fixed fields only when all of them
// lie within the image.
TEST(HpmImageAccessors, ShortImages)
{
    for (size_t size : {size_t{0}, size_t{1}, size_t{44}, size_t{84}, size_t{85}}) {
        SCOPED_TRACE(size);
        const HpmImage image(Build(Firmware(0)).data(), size);
        uint8_t major = 0, minor = 0;
        uint32_t aux = 0;
        if (size == 0) {
            EXPECT_THROW(image.GetHpmImageVersion(major, minor, aux), std::out_of_range);
            EXPECT_THROW(image.GetHpmImageType(), std::out_of_range);
            EXPECT_THROW(static_cast<bmc::RawImage>(image), std::out_of_range);
        } else if (size < 85) {
            for (const std::function<void()>& read : std::vector<std::function<void()>>{
                     [&] { image.GetHpmImageVersion(major, minor, aux); },
                     [&] { image.GetHpmImageType(); },
                     [&] { static_cast<bmc::RawImage>(image); }}) {
                try {
                    read();
                    ADD_FAILURE() << "no failure";
                } catch (const istd::Exception& e) {
                    EXPECT_STREQ(e.what(), "HPM: Invalid image size.");
                }
            }
        } else {
            image.GetHpmImageVersion(major, minor, aux);
            EXPECT_EQ(major, 1);
            EXPECT_EQ(image.GetHpmImageType(), bmc::eBoardTypePAX);
            EXPECT_TRUE(static_cast<bmc::RawImage>(image).GetBuffer().empty());
        }
    }
}

TEST(HpmImageAccessors, FirmwareLengthFromTheHeaderAlone)
{
    const ImageData image = Build(Firmware(1000));
    EXPECT_EQ(HpmImage::GetFirmwareLength(image.data(), 69), 1000u);
    EXPECT_THROW(HpmImage::GetFirmwareLength(image.data(), 68), istd::Exception);
}

} // namespace

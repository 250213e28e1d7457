#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "bmc/hpm_image.h"
#include "bmc/raw_image.h"
#include "tests/support/error_of.h"
#include "tests/support/temp_dir.h"

namespace {

using bmc::ImageData;
using testsupport::ErrorOf;

class ImageFile : public ::testing::Test {
protected:
    static ImageData Image(size_t firmwareSize)
    {
        ImageData raw(firmwareSize);
        for (size_t i = 0; i < firmwareSize; ++i) {
            raw[i] = static_cast<uint8_t>(i ^ (i >> 8));
        }
        return bmc::HpmImage(bmc::RawImage(raw), 2, 5, 7, bmc::eBoardTypeWRP).GetBuffer();
    }

    static ImageData Content(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        return ImageData(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    testsupport::TempDir m_dir;
};

TEST_F(ImageFile, RoundTrip)
{
    const std::string path = m_dir / "HpmImage.img";
    for (size_t size : {size_t{0}, size_t{1}, size_t{100000}}) {
        SCOPED_TRACE(size);
        const ImageData image = Image(size);
        bmc::WriteImageToFile(path, image);
        EXPECT_EQ(Content(path), image);
        const ImageData read = bmc::ReadImageFromFile(path);
        EXPECT_EQ(read, image);
        EXPECT_EQ(bmc::CreateHpmImage(read).GetBuffer(), image);
    }
}

TEST_F(ImageFile, WriteReplacesALongerFile)
{
    const std::string path = m_dir / "image";
    bmc::WriteImageToFile(path, Image(5000));
    bmc::WriteImageToFile(path, Image(10));
    EXPECT_EQ(bmc::ReadImageFromFile(path), Image(10));
}

TEST_F(ImageFile, EmptyFileReadsEmpty)
{
    const std::string path = m_dir / "empty";
    std::ofstream(path).close();
    EXPECT_TRUE(bmc::ReadImageFromFile(path).empty());
}

// The image check sees the cut, not zero bytes standing in for the missing ones.
TEST_F(ImageFile, TruncatedImageFile)
{
    const std::string path = m_dir / "cut.img";
    const ImageData image = Image(1000);
    bmc::WriteImageToFile(path, image);
    ASSERT_EQ(::truncate(path.c_str(), 1000), 0);
    const ImageData read = bmc::ReadImageFromFile(path);
    EXPECT_EQ(read, ImageData(image.begin(), image.begin() + 1000));
    EXPECT_EQ(ErrorOf([&] { bmc::CreateHpmImage(read); }), "HPM: Invalid image size.");
}

TEST_F(ImageFile, ReadFailures)
{
    std::vector<std::string> paths = {m_dir / "missing", m_dir.Path(), m_dir / "missing/dir/x"};
    // A file whose reported size exceeds what it holds: a read falls short of the size.
    const std::string shortRead = "/sys/devices/system/cpu/online";
    struct stat status {};
    if (::stat(shortRead.c_str(), &status) == 0 && status.st_size > 64) {
        paths.push_back(shortRead);
    }
    for (const std::string& path : paths) {
        EXPECT_EQ(ErrorOf([&] { bmc::ReadImageFromFile(path); }), "bmc: Can't read file: " + path);
    }
}

TEST_F(ImageFile, WriteFailures)
{
    std::vector<std::pair<std::string, size_t>> cases = {{m_dir / "missing/x.img", 85},
                                                         {m_dir.Path(), 85}};
    if (::access("/dev/full", W_OK) == 0) {
        cases.push_back({"/dev/full", 85});      // the error shows only when flushed
        cases.push_back({"/dev/full", 1 << 20}); // the error shows while writing
    }
    for (const auto& [path, size] : cases) {
        SCOPED_TRACE(size);
        const ImageData data(size, 0x42);
        EXPECT_EQ(ErrorOf([&] { bmc::WriteImageToFile(path, data); }),
                  "bmc: Can't write file: " + path);
    }
}

TEST_F(ImageFile, EmptyArrayLeavesTheFileEmpty)
{
    const std::string path = m_dir / "image";
    bmc::WriteImageToFile(path, Image(10));
    EXPECT_THROW(bmc::WriteImageToFile(path, ImageData()), std::out_of_range);
    struct stat status {};
    ASSERT_EQ(::stat(path.c_str(), &status), 0);
    EXPECT_EQ(status.st_size, 0);
}

} // namespace

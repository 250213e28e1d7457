#include "bmc/raw_image.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <utility>

#include "istd/exception.h"
#include "istd/trace.h"

namespace bmc {

namespace {

constexpr uint8_t c_syncWord[] = {0xFF, 0xFF, 0xFF, 0xFF, 0xAA, 0x99};
constexpr uint8_t c_syncWordShort[] = {0xFF, 0xFF, 0xBD, 0xB3};

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// The offset of the first occurrence of the pattern, or the image's size.
template <size_t N>
size_t _Find(const ImageData& data, const uint8_t (&pattern)[N])
{
    const auto found =
        std::search(data.begin(), data.end(), std::begin(pattern), std::end(pattern));
    return static_cast<size_t>(found - data.begin());
}

[[noreturn]] void _ThrowRead(const std::string& path)
{
    throw istd::Exception("bmc: Can't read file: " + path, true);
}

[[noreturn]] void _ThrowWrite(const std::string& path)
{
    throw istd::Exception("bmc: Can't write file: " + path, true);
}

// Closes the file and reports whether everything written to it reached the system.
bool _Close(FilePtr& file)
{
    return std::fclose(file.release()) == 0;
}

} // namespace

RawImage::RawImage(const uint8_t* data, uint32_t size)
    : m_data(data, data + size)
{
}

RawImage::RawImage(const ImageData& data)
    : m_data(data)
{
}

RawImage::RawImage(ImageData&& data)
    : m_data(std::move(data))
{
}

bool RawImage::StripToSyncWord()
{
    ISTD_TRACE_FNC("bool bmc::RawImage::StripToSyncWord()");
    // The long word is sought over the whole image before the short one: the short one can
    // occur by chance in the bytes ahead of the real sync word.
    size_t position = _Find(m_data, c_syncWord);
    if (position == m_data.size()) {
        position = _Find(m_data, c_syncWordShort);
    }
    if (position == m_data.size()) {
        ISTD_TRACE(istd::eTraceWarning, "Sync word (preamble) not found in the input data.");
        return false;
    }
    ISTD_TRACE(istd::eTraceDetail, "Pattern found on position: " << position);
    if (position > c_syncWordWindow) {
        ISTD_TRACE(istd::eTraceWarning,
                   "Sync word (preamble) is not in the first " << c_syncWordWindow << " bytes.");
        return false;
    }
    m_data.erase(m_data.begin(), m_data.begin() + static_cast<std::ptrdiff_t>(position));
    return true;
}

// One open for size and content, so the size read is the size of the file that is read. A
// count short of that size (a file cut meanwhile, or one that reports more than it holds)
// fails rather than coming back zero-padded.
ImageData ReadImageFromFile(const std::string& path)
{
    ISTD_TRACE_FNC("bmc::ImageData bmc::ReadImageFromFile(const std::string&)");
    FilePtr file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        _ThrowRead(path);
    }
    struct stat status {};
    if (::fstat(::fileno(file.get()), &status) != 0 || !S_ISREG(status.st_mode)) {
        _ThrowRead(path);
    }
    ImageData data(static_cast<size_t>(status.st_size));
    if (!data.empty() && std::fread(data.data(), 1, data.size(), file.get()) != data.size()) {
        _ThrowRead(path);
    }
    if (!_Close(file)) {
        _ThrowRead(path);
    }
    return data;
}

// A full disk shows at the write or only when the buffer is flushed at close: both count.
void WriteImageToFile(const std::string& path, const ImageData& data)
{
    ISTD_TRACE_FNC("void bmc::WriteImageToFile(const std::string&, const bmc::ImageData&)");
    FilePtr file(std::fopen(path.c_str(), "wb"));
    if (!file) {
        _ThrowWrite(path);
    }
    if (data.empty()) {
        throw std::out_of_range("bmc: WriteImageToFile: empty image");
    }
    if (std::fwrite(data.data(), 1, data.size(), file.get()) != data.size()) {
        _ThrowWrite(path);
    }
    if (std::fflush(file.get()) != 0 || !_Close(file)) {
        _ThrowWrite(path);
    }
}

} // namespace bmc

#include "bmc/hpm_image.h"

#include <openssl/evp.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <string>

#include "istd/exception.h"
#include "istd/trace.h"

namespace bmc {

namespace {

constexpr size_t c_signatureSize = sizeof(HpmImage::c_signature) - 1;
constexpr size_t c_formatVersionOffset = 8;
constexpr size_t c_deviceIdOffset = 9;
constexpr size_t c_manufacturerOffset = 10;
constexpr size_t c_productIdOffset = 13;
constexpr size_t c_componentsOffset = 20;
constexpr size_t c_oemLengthOffset = 32;
constexpr size_t c_headerChecksumOffset = 34;
constexpr size_t c_actionOffset = 35;
constexpr size_t c_actionSize = 3;
constexpr size_t c_versionOffset = 38;
constexpr size_t c_descriptionOffset = 44;

constexpr uint8_t c_actionUpload = 2;
constexpr uint8_t c_component0 = 1;
constexpr uint8_t c_maxMajor = 127;
constexpr uint8_t c_maxMinor = 99;

using Digest = uint8_t[HpmImage::c_digestSize];

[[noreturn]] void _ThrowSize()
{
    throw istd::Exception("HPM: Invalid image size.", true);
}

uint8_t _Sum(const uint8_t* data, size_t size)
{
    unsigned sum = 0;
    for (size_t i = 0; i < size; ++i) {
        sum += data[i];
    }
    return static_cast<uint8_t>(sum);
}

uint8_t _Checksum(const uint8_t* data, size_t size)
{
    return static_cast<uint8_t>(0x100 - _Sum(data, size));
}

void _PutLe(uint8_t* p, uint64_t value, size_t width)
{
    for (size_t i = 0; i < width; ++i) {
        p[i] = static_cast<uint8_t>(value >> (8 * i));
    }
}

uint32_t _GetLe(const uint8_t* p, size_t width)
{
    uint32_t value = 0;
    for (size_t i = width; i > 0; --i) {
        value = (value << 8) | p[i - 1];
    }
    return value;
}

[[noreturn]] void _ThrowDigest()
{
    throw istd::Exception("bmc: Can't compute the MD5 digest of an HPM image.", true);
}

// An MD5 computed while the bytes are copied: each piece is hashed and then appended to the
// image from the cache, so the caller's bytes are read from memory once.
class Md5Copy {
public:
    Md5Copy() : m_context(EVP_MD_CTX_new())
    {
        if (m_context == nullptr || EVP_DigestInit_ex(m_context, EVP_md5(), nullptr) != 1) {
            EVP_MD_CTX_free(m_context);
            _ThrowDigest();
        }
    }
    ~Md5Copy() { EVP_MD_CTX_free(m_context); }
    Md5Copy(const Md5Copy&) = delete;
    Md5Copy& operator=(const Md5Copy&) = delete;

    // Hashes the bytes and appends them to image (whose capacity holds them).
    void HashAndAppend(const uint8_t* data, size_t size, ImageData& image)
    {
        constexpr size_t c_piece = size_t{64} << 10;
        for (size_t done = 0; done < size;) {
            const size_t length = std::min(c_piece, size - done);
            Hash(data + done, length);
            image.insert(image.end(), data + done, data + done + length);
            done += length;
        }
    }
    void Hash(const uint8_t* data, size_t size)
    {
        if (EVP_DigestUpdate(m_context, data, size) != 1) {
            _ThrowDigest();
        }
    }
    void Final(Digest& digest)
    {
        unsigned int length = 0;
        if (EVP_DigestFinal_ex(m_context, digest, &length) != 1 || length != HpmImage::c_digestSize) {
            _ThrowDigest();
        }
    }

private:
    EVP_MD_CTX* m_context;
};

// Writes the 6 version bytes at p: major, minor in BCD, auxiliary version.
void SetHpmImageVersion(uint8_t* p, uint8_t major, uint8_t minor, uint32_t aux)
{
    ISTD_TRACE_FNC("void SetHpmImageVersion(uint8_t*, uint8_t, uint8_t, uint32_t)");
    if (major > c_maxMajor) {
        major = c_maxMajor;
        ISTD_TRACE(istd::eTraceError,
                   "bmc: Major version number adjusted to maximum value" << unsigned{c_maxMajor});
    }
    if (minor > c_maxMinor) {
        minor = c_maxMinor;
        ISTD_TRACE(istd::eTraceError,
                   "bmc: Minor version number adjusted to maximum value " << unsigned{c_maxMinor});
    }
    p[0] = major;
    p[1] = static_cast<uint8_t>(((minor / 10) << 4) | (minor % 10));
    _PutLe(p + 2, aux, 4);
}

// Builds the image into image, whose memory is reused when it is large enough; image is left
// as it was when the raw image or the type is refused.
void CreateHpmImageData(const ImageData& raw, uint8_t major, uint8_t minor, uint32_t aux,
                        BoardType_e type, ImageData& image)
{
    ISTD_TRACE_FNC("bmc::ImageData CreateHpmImageData(const bmc::ImageData&, uint8_t, uint8_t, "
                   "uint32_t, bmc::BoardType_e)");
    if (raw.size() > std::numeric_limits<uint32_t>::max()) {
        _ThrowSize(); // the length field has 32 bits
    }
    // Looked up before anything is built: a type without a name fails here.
    std::string name = istd::EnumName(type);

    Md5Copy md5;
    image.clear();
    image.reserve(raw.size() + HpmImage::c_overhead);
    image.resize(HpmImage::c_firmwareOffset);
    uint8_t* p = image.data();

    std::memcpy(p, HpmImage::c_signature, c_signatureSize);
    p[c_deviceIdOffset] = static_cast<uint8_t>(type);
    _PutLe(p + c_manufacturerOffset, HpmImage::c_manufacturerId, 3);
    _PutLe(p + c_productIdOffset, static_cast<uint8_t>(type), 2);
    p[c_componentsOffset] = c_component0;
    p[c_headerChecksumOffset] = _Checksum(p, c_headerChecksumOffset);

    p[c_actionOffset] = c_actionUpload;
    p[c_actionOffset + 1] = c_component0;
    p[c_actionOffset + 2] = _Checksum(p + c_actionOffset, c_actionSize - 1);

    SetHpmImageVersion(p + c_versionOffset, major, minor, aux);

    if (name.size() > HpmImage::c_maxTypeName) {
        ISTD_TRACE(istd::eTraceError, "bmc: HPM board type string length must be maximum "
                                          << HpmImage::c_maxTypeName << "characters.");
        name.resize(HpmImage::c_maxTypeName);
    }
    std::memcpy(p + c_descriptionOffset, name.data(), name.size());
    _PutLe(p + HpmImage::c_lengthOffset, raw.size(), 4);

    md5.Hash(p, HpmImage::c_firmwareOffset);
    md5.HashAndAppend(raw.data(), raw.size(), image);
    Digest digest;
    md5.Final(digest);
    image.insert(image.end(), std::begin(digest), std::end(digest));
}

} // namespace

HpmImage::HpmImage(const uint8_t* data, size_t size)
    : m_data(data, data + size)
{
}

HpmImage::HpmImage(const ImageData& data)
    : m_data(data)
{
}

HpmImage::HpmImage(const RawImage& raw, uint8_t major, uint8_t minor, uint32_t aux,
                   BoardType_e type)
{
    Build(raw, major, minor, aux, type);
}

void HpmImage::Build(const RawImage& raw, uint8_t major, uint8_t minor, uint32_t aux, BoardType_e type)
{
    CreateHpmImageData(raw.GetBuffer(), major, minor, aux, type, m_data);
}

// An unchecked image may be any length: the fixed fields are read only once they all lie
// within it.
void HpmImage::_CheckSize() const
{
    if (m_data.empty()) {
        throw std::out_of_range("bmc: empty HPM image");
    }
    if (m_data.size() < c_overhead) {
        _ThrowSize();
    }
}

void HpmImage::GetHpmImageVersion(uint8_t& major, uint8_t& minor, uint32_t& aux) const
{
    ISTD_TRACE_FNC("void bmc::HpmImage::GetHpmImageVersion(uint8_t&, uint8_t&, uint32_t&) const");
    _CheckSize();
    const uint8_t* p = m_data.data() + c_versionOffset;
    major = p[0];
    minor = static_cast<uint8_t>((p[1] & 0x0F) + 10 * (p[1] >> 4));
    aux = _GetLe(p + 2, 4);
}

BoardType_e HpmImage::GetHpmImageType() const
{
    ISTD_TRACE_FNC("bmc::BoardType_e bmc::HpmImage::GetHpmImageType() const");
    _CheckSize();
    const char* text = reinterpret_cast<const char*>(m_data.data() + c_descriptionOffset);
    const std::string name(text, ::strnlen(text, c_maxTypeName));
    try {
        return istd::EnumCast<BoardType_e>(name);
    } catch (const istd::Exception&) {
        ISTD_TRACE(istd::eTraceError, "bmc: Board type is not set in the Hpm image file!");
        return eBoardTypeInvalid;
    }
}

HpmImage::operator RawImage() const
{
    ISTD_TRACE_FNC("bmc::HpmImage::operator bmc::RawImage() const");
    _CheckSize();
    return RawImage(ImageData(m_data.begin() + c_firmwareOffset, m_data.end() - c_digestSize));
}

uint32_t HpmImage::GetFirmwareLength(const uint8_t* data, size_t size)
{
    if (size < c_firmwareOffset) {
        _ThrowSize();
    }
    return _GetLe(data + c_lengthOffset, 4);
}

namespace {

// Every field is bounds-checked before it is read, in 64-bit arithmetic: a length field near
// 4 GiB must not wrap to a small offset. Answers the size of the bytes the digest covers.
uint64_t _CheckHeader(const uint8_t* data, size_t size)
{
    if (size < HpmImage::c_overhead) {
        _ThrowSize();
    }
    if (std::memcmp(data, HpmImage::c_signature, c_signatureSize) != 0 ||
        data[c_formatVersionOffset] != 0) {
        throw istd::Exception("HPM: Invalid signature.", true);
    }
    const uint64_t oemSize = _GetLe(data + c_oemLengthOffset, 2);
    const uint64_t headerSize = c_headerChecksumOffset + 1 + oemSize;
    if (headerSize > size) {
        _ThrowSize();
    }
    if (_Sum(data, static_cast<size_t>(headerSize)) != 0) {
        throw istd::Exception("HPM: Invalid checksum of the image header.", true);
    }
    if (_Sum(data + c_actionOffset, c_actionSize) != 0) {
        throw istd::Exception("HPM: Invalid checksum of the action record.", true);
    }
    const uint64_t firmwareSize = HpmImage::GetFirmwareLength(data, size);
    const uint64_t signedSize = HpmImage::c_firmwareOffset + firmwareSize;
    if (signedSize + HpmImage::c_digestSize > size) {
        _ThrowSize();
    }
    return signedSize;
}

[[noreturn]] void _ThrowDigestMismatch()
{
    throw istd::Exception("HPM: Invalid MD5 signature.", true);
}

} // namespace

HpmImage CreateHpmImage(const uint8_t* data, size_t size)
{
    ISTD_TRACE_FNC("bmc::HpmImage bmc::CreateHpmImage(const uint8_t*, size_t)");
    HpmImage image;
    CreateHpmImage(data, size, image);
    return image;
}

void CreateHpmImage(const uint8_t* data, size_t size, HpmImage& image)
{
    const size_t signedSize = static_cast<size_t>(_CheckHeader(data, size));
    ImageData& bytes = image.m_data;
    bytes.clear();
    bytes.reserve(size);
    Md5Copy md5;
    md5.HashAndAppend(data, signedSize, bytes);
    Digest digest;
    md5.Final(digest);
    if (std::memcmp(digest, data + signedSize, HpmImage::c_digestSize) != 0) {
        bytes.clear(); // no half-checked image stays behind
        _ThrowDigestMismatch();
    }
    bytes.insert(bytes.end(), data + signedSize, data + size);
}

HpmImage CreateHpmImage(const ImageData& data)
{
    return CreateHpmImage(data.data(), data.size());
}

HpmImage CreateHpmImage(ImageData&& data)
{
    ISTD_TRACE_FNC("bmc::HpmImage bmc::CreateHpmImage(bmc::ImageData&&)");
    const size_t signedSize = static_cast<size_t>(_CheckHeader(data.data(), data.size()));
    Md5Copy md5;
    md5.Hash(data.data(), signedSize);
    Digest digest;
    md5.Final(digest);
    if (std::memcmp(digest, data.data() + signedSize, HpmImage::c_digestSize) != 0) {
        _ThrowDigestMismatch();
    }
    HpmImage image;
    image.m_data = std::move(data);
    return image;
}

} // namespace bmc

// Firmware upload and read-back over IPMI with the PICMG HPM.1 upgrade commands.

#include <algorithm>
#include <climits>
#include <cstring>
#include <stdexcept>
#include <string>

#include "istd/exception.h"
#include "istd/trace.h"
#include "bmc/clock.h"
#include "bmc/hpm_image.h"
#include "bmc/ipmi_connection.h"
#include "bmc/ipmi_exception.h"

namespace bmc {

namespace {

constexpr uint8_t c_netFnPicmg = 0x2C;
constexpr uint8_t c_picmgId = 0x00;

constexpr uint8_t c_cmdGetUpgradeCapabilities = 0x2E;
constexpr uint8_t c_cmdReadBack = 0x2F;
constexpr uint8_t c_cmdInitiateUpgrade = 0x31;
constexpr uint8_t c_cmdUploadBlock = 0x32;
constexpr uint8_t c_cmdFinishUpload = 0x33;

constexpr uint8_t c_componentMask = 0x01;     // component 0
constexpr uint8_t c_actionUpload = 0x02;      // upload for upgrade
constexpr uint8_t c_readBackSelector = 0x0B;
constexpr uint8_t c_ccInvalidLength = 0xC7;
constexpr size_t c_capabilitiesSize = 8;

const char* const c_blockFailure = "bmc: SendRawPackage failed uploading firmware block";
const char* const c_readFailure = "bmc: ReadBuffer failed getting firmware data.";

// "<text> = <code> (<name>)": the traces of a refused upgrade request.
std::string RefusalText(const char* text, uint8_t code)
{
    return IpmiException::CreateMessage((std::string(text) + std::to_string(code)).c_str(), code);
}

char YesNo(bool set)
{
    return set ? 'y' : 'n';
}

void TraceCapabilities(const ipmi_rs& response)
{
    ISTD_TRACE_FNC("void bmc::{anonymous}::TraceCapabilities(const ipmi_rs&)");
    if (response.dataLen < static_cast<int32_t>(c_capabilitiesSize)) {
        ISTD_TRACE(4, "FPGA UPGRADE CAPABILITIES: short answer of " << response.dataLen << " data bytes");
        return;
    }
    const uint8_t* d = response.data;
    ISTD_TRACE(4, "FPGA UPGRADE CAPABILITIES");
    ISTD_TRACE(4, "-------------------------------");
    for (int k = 0; k < 8; ++k) {
        ISTD_TRACE(4, "Component " << k << " presence...." << YesNo((d[7] >> k & 1) != 0));
    }
    ISTD_TRACE(4, "Component byte.........." << YesNo(d[7] != 0));
    static const char* const c_globalCapabilities[8] = {
        "Upgrade undesirable.....", "Aut rollback override...", "IPMC degraded...........",
        "Deferred activation......", "Service affected........", "Manual rollback.........",
        "Automatic rollback......", "Self test..............."};
    for (int bit = 7; bit >= 0; --bit) {
        ISTD_TRACE(4, c_globalCapabilities[7 - bit] << YesNo((d[2] >> bit & 1) != 0));
    }
    ISTD_TRACE(4, "Upgrade timeout.........[" << unsigned{d[3]} << " sec]");
    ISTD_TRACE(4, "Self test timeout.......[" << unsigned{d[4]} << " sec]");
    ISTD_TRACE(4, "Rollback timeout........[" << unsigned{d[5]} << " sec]");
    ISTD_TRACE(4, "Inaccessibility timeout.[" << unsigned{d[6]} << " sec]");
}

// Progress reports of one upload or read, numbered from 0; silent without a callback.
class Progress {
public:
    Progress(ConnectionCallback* callback, int boardId, unsigned int fileSize)
        : m_callback(callback), m_boardId(boardId), m_fileSize(fileSize)
    {
    }

    bool IsOn() const { return m_callback != nullptr; }

    // total bytes so far; the additional ones are those since the previous report.
    void Report(unsigned int total, const istd::Time& elapsed)
    {
        if (m_callback == nullptr) {
            return;
        }
        m_callback->UpdateUpgradeStatus(m_boardId, m_sequence, total, total - m_previous, m_fileSize, elapsed);
        m_previous = total;
        ++m_sequence;
    }

private:
    ConnectionCallback* const m_callback;
    const int m_boardId;
    const unsigned int m_fileSize;
    unsigned int m_sequence = 0;
    unsigned int m_previous = 0;
};

} // namespace

void IpmiConnection::WriteImage(const ImageData& image)
{
    ISTD_TRACE_FNC("void bmc::IpmiConnection::WriteImage(const bmc::ImageData&)");
    // Checked before the controller is told anything: an upgrade must not begin that cannot be
    // finished.
    if (image.empty()) {
        throw std::out_of_range("bmc: WriteImage: empty image");
    }
    if (image.size() > UINT_MAX) {
        throw istd::Exception("bmc: WriteImage: image of " + std::to_string(image.size()) +
                                  " bytes exceeds the 32-bit upload length.",
                              true);
    }
    HpmInitUpgradeAction();
    uint8_t ccode = 0;
    if (_TestFpgaCapabilities(ccode) != 0) {
        // Returning here would report an upload that never happened as done.
        throw IpmiException(ccode, "bmc: WriteImage refused: no target upgrade capabilities", true);
    }
    unsigned int sent = 0;
    SendImage(image.data(), sent, static_cast<unsigned int>(image.size()));
    FinishWriteImage(sent);
}

int IpmiConnection::HpmInitUpgradeAction()
{
    ISTD_TRACE_FNC("int bmc::IpmiConnection::HpmInitUpgradeAction()");
    const uint8_t data[3] = {c_picmgId, c_componentMask, c_actionUpload};
    ipmi_rs response;
    _Transact(c_netFnPicmg, c_cmdInitiateUpgrade, data, sizeof data, response);
    if (response.ccode != 0) {
        ISTD_TRACE(1, RefusalText("Init. of hpm upgrade action failed = ", response.ccode));
        return -1;
    }
    return 0;
}

int IpmiConnection::TestFpgaCapabilities()
{
    uint8_t ccode = 0;
    return _TestFpgaCapabilities(ccode);
}

int IpmiConnection::_TestFpgaCapabilities(uint8_t& ccode)
{
    ISTD_TRACE_FNC("int bmc::IpmiConnection::_TestFpgaCapabilities(uint8_t&)");
    const uint8_t data[1] = {c_picmgId};
    ipmi_rs response;
    _Transact(c_netFnPicmg, c_cmdGetUpgradeCapabilities, data, sizeof data, response);
    ccode = response.ccode;
    if (ccode != 0) {
        ISTD_TRACE(1, RefusalText("Error getting target upgrade capabilities = ", ccode));
        return -1;
    }
    TraceCapabilities(response);
    return 0;
}

void IpmiConnection::SendImage(const unsigned char* image, unsigned int& sent, unsigned int size)
{
    ISTD_TRACE_FNC("void bmc::IpmiConnection::SendImage(const unsigned char*, unsigned int&, unsigned int)");
    Progress progress(GetCallback(), m_boardId, size);
    istd::Time start;
    if (progress.IsOn()) {
        start = Clock::Now(6);
        progress.Report(0, start);
    }
    int block = c_firstBlock;
    uint8_t number = 0;
    unsigned int position = 0;
    unsigned char package[2 + c_maxBlock];
    while (position < size) {
        const int length = static_cast<int>(std::min(size - position, static_cast<unsigned int>(block)));
        package[0] = c_picmgId;
        package[1] = number;
        std::memcpy(package + 2, image + position, static_cast<size_t>(length));
        if (SendRawPackage(package, length) == 0) {
            ++number; // wraps at 256, as the block number on the wire does
            position += static_cast<unsigned int>(length);
            sent += static_cast<unsigned int>(length);
        } else {
            --block;
        }
        if (progress.IsOn()) {
            progress.Report(sent, Clock::Now(6) - start);
        }
        if (block < 1) {
            // The controller took no block of any size: give up rather than offer nothing.
            throw IpmiException(c_ccInvalidLength, c_blockFailure, true);
        }
    }
}

int IpmiConnection::SendRawPackage(unsigned char* package, int length)
{
    ISTD_TRACE_FNC("int bmc::IpmiConnection::SendRawPackage(unsigned char*, int)");
    if (length < 0 || length > c_maxBlock) {
        throw istd::Exception("bmc: SendRawPackage: block of " + std::to_string(length) +
                                  " bytes does not fit one request.",
                              true);
    }
    ipmi_rs response;
    _Transact(c_netFnPicmg, c_cmdUploadBlock, package, static_cast<size_t>(length) + 2, response);
    if (response.ccode != 0 && response.ccode != c_ccInvalidLength) {
        throw IpmiException(response.ccode, c_blockFailure, true);
    }
    return response.ccode;
}

void IpmiConnection::FinishWriteImage(unsigned int length)
{
    ISTD_TRACE_FNC("void bmc::IpmiConnection::FinishWriteImage(unsigned int)");
    const uint8_t data[6] = {c_picmgId,
                             0x00,
                             static_cast<uint8_t>(length),
                             static_cast<uint8_t>(length >> 8),
                             static_cast<uint8_t>(length >> 16),
                             static_cast<uint8_t>(length >> 24)};
    ipmi_rs response;
    _Request(c_netFnPicmg, c_cmdFinishUpload, data, sizeof data, response,
             "bmc: FinishWriteImage failed finishing firmware upload");
}

ImageData IpmiConnection::GetImage()
{
    ISTD_TRACE_FNC("bmc::ImageData bmc::IpmiConnection::GetImage()");
    int offset = 0;
    ImageData image = ReadBuffer(HpmImage::c_firmwareOffset, offset, false, 0);
    const uint32_t length = HpmImage::GetFirmwareLength(image.data(), image.size());
    // Refused before the body is read: a read past the 24-bit offset would wrap to the start.
    if (HpmImage::c_overhead + uint64_t{length} > c_readBackLimit) {
        throw istd::Exception("bmc: GetImage: firmware length " + std::to_string(length) +
                                  " exceeds what the read-back offset can address.",
                              true);
    }
    const ImageData body = ReadBuffer(length, offset, true, static_cast<int>(HpmImage::c_overhead));
    const ImageData digest = ReadBuffer(HpmImage::c_digestSize, offset, false, 0);
    image.reserve(HpmImage::c_overhead + length);
    image.insert(image.end(), body.begin(), body.end());
    image.insert(image.end(), digest.begin(), digest.end());
    return image;
}

ImageData IpmiConnection::ReadBuffer(unsigned int length, int& offset, bool report, int outside)
{
    ISTD_TRACE_FNC("bmc::ImageData bmc::IpmiConnection::ReadBuffer(unsigned int, int&, bool, int)");
    if (offset < 0 || static_cast<uint64_t>(offset) + length > c_readBackLimit) {
        throw istd::Exception("bmc: ReadBuffer: " + std::to_string(length) + " bytes from offset " +
                                  std::to_string(offset) + " lie beyond the 24-bit read-back offset.",
                              true);
    }
    const unsigned int fileSize = static_cast<unsigned int>(outside) + length;
    Progress progress(report ? GetCallback() : nullptr, m_boardId, fileSize);
    istd::Time start;
    if (progress.IsOn()) {
        start = Clock::Now(6);
        progress.Report(0, istd::Time(0, 0));
    }
    const unsigned int first = static_cast<unsigned int>(offset);
    const unsigned int end = first + length;
    unsigned int position = first;
    ImageData result;
    result.reserve(length);
    while (position < end) {
        const uint8_t data[6] = {c_picmgId,
                                 0x00,
                                 c_readBackSelector,
                                 static_cast<uint8_t>(position >> 16),
                                 static_cast<uint8_t>(position >> 8),
                                 static_cast<uint8_t>(position)};
        ipmi_rs response;
        _Request(c_netFnPicmg, c_cmdReadBack, data, sizeof data, response, c_readFailure);
        const istd::Time noted = progress.IsOn() ? Clock::Now(6) : istd::Time();
        if (response.dataLen <= 0) {
            // The same request would bring the same nothing again.
            throw istd::Exception(std::string(c_readFailure) + " (no data returned at offset " +
                                      std::to_string(position) + ")",
                                  true);
        }
        const unsigned int count = std::min(static_cast<unsigned int>(response.dataLen),
                                            static_cast<unsigned int>(sizeof response.data));
        if (count < end - position) {
            result.insert(result.end(), response.data, response.data + count);
            if (progress.IsOn()) {
                progress.Report(position - first, noted - start);
            }
            position += count;
        } else {
            // The rest of the answer lies beyond the read and is dropped.
            result.insert(result.end(), response.data, response.data + (end - position));
            position = end;
            if (progress.IsOn()) {
                progress.Report(fileSize, noted - start);
            }
        }
    }
    offset = static_cast<int>(position);
    return result;
}

} // namespace bmc

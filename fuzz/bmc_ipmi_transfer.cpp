// The controller's answers to the multi-request procedures of the IPMI connection: firmware
// upload and read-back, the configuration record's transfer, the initialisation start.
//
// Input: [0] picks the procedure, [1..4] its parameters; then one answer per request, two
// bytes each: the completion code (0 and 1 stand for 0x00 and 0xC7, the two codes the upload
// tells apart; any other value is itself) and the data length as a signed byte, which may
// exceed what a frame holds or be negative. The data bytes themselves are the whole input read
// from a running position, so long transfers need few input bytes. When the answers run out the
// transport fails.
//
// Every refusal must be an istd::Exception (bmc::IpmiException included) or, for an empty
// image, std::out_of_range; anything else, a sanitizer report or a broken invariant is a finding.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "bmc/ipmi_connection.h"

namespace {

void Require(bool condition)
{
    if (!condition) {
        std::abort();
    }
}

class AnswerConnection : public bmc::IpmiConnection {
public:
    AnswerConnection(const uint8_t* input, size_t size, size_t first)
        : bmc::IpmiConnection(bmc::Uri(bmc::Uri::eChassis, "1", bmc::Uri::eInterfaceIpmiUsb)), m_input(input),
          m_size(size), m_next(first)
    {
    }

    int SendCommand(ipmi_rq& request, ipmi_rs& response) override
    {
        // No procedure sends more than a frame holds.
        Require(request.dataLen <= 59);
        if (m_next + 2 > m_size) {
            throw istd::Exception("fuzz: no more answers", true);
        }
        const uint8_t code = m_input[m_next];
        response.ccode = code == 0 ? 0x00 : code == 1 ? 0xC7 : code;
        response.dataLen = static_cast<int8_t>(m_input[m_next + 1]);
        m_next += 2;
        for (size_t i = 0; i < sizeof response.data; ++i) {
            response.data[i] = m_input[(m_next + i) % m_size];
        }
        return 64;
    }

private:
    const uint8_t* m_input;
    size_t m_size;
    size_t m_next;
};

// Checks what the callback is told: totals never pass the file size.
class CheckingCallback : public bmc::ConnectionCallback {
public:
    void UpdateUpgradeStatus(int, unsigned int sequence, unsigned int total, unsigned int, unsigned int fileSize,
                             istd::Time) override
    {
        Require(sequence == m_next++);
        Require(total <= fileSize);
    }

private:
    unsigned int m_next = 0;
};

void Run(AnswerConnection& c, const uint8_t* p)
{
    switch (p[0] % 7) {
    case 0: {
        const bmc::ImageData image(size_t{p[1]} * 4, 0xA5);
        c.WriteImage(image);
        break;
    }
    case 1: {
        const bmc::ImageData image = c.GetImage();
        Require(image.size() >= 85);
        break;
    }
    case 2: {
        const unsigned int length = p[1] | unsigned{p[2]} << 8;
        int offset = static_cast<int8_t>(p[3]) * 0x10000;
        const int first = offset;
        const bmc::ImageData read = c.ReadBuffer(length, offset, true, p[4]);
        Require(read.size() == length && offset == first + static_cast<int>(length));
        break;
    }
    case 3: {
        bmc::BoardConfiguration record;
        c.ReadConfiguration(record);
        break;
    }
    case 4: {
        bmc::BoardConfiguration record;
        record.Data()[bmc::BoardConfiguration::c_subsysPresentOffset] = p[1] & 1;
        c.WriteConfiguration(record);
        break;
    }
    case 5:
        c.InitHwInit(static_cast<bmc::Board_e>(p[1] & 1));
        break;
    default:
        c.HpmInitUpgradeAction();
        c.TestFpgaCapabilities();
        break;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    constexpr size_t c_parameters = 5;
    if (size < c_parameters) {
        return 0;
    }
    AnswerConnection connection(data, size, c_parameters);
    CheckingCallback callback;
    connection.SetCallback(&callback);
    try {
        Run(connection, data);
    } catch (const istd::Exception&) {
    } catch (const std::out_of_range&) {
        // WriteImage of an empty image.
    }
    return 0;
}

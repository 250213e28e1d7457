// Board firmware upgrade: straight into the configuration flash over PCIe where the board offers
// it, else as an upload over the board's connection.

#include <climits>
#include <iostream>
#include <stdexcept>

#include "istd/exception.h"
#include "istd/trace.h"
#include "bmc/board.h"
#include "bmc/bus_controller.h"
#include "bmc/clock.h"
#include "bmc/connection.h"
#include "bmc/spi_bus_controller_fpga_amba.h"
#include "bmc/spi_device_serial_flash.h"

namespace bmc {

namespace {

// The SPI core in front of the configuration flash, in the mapped FPGA memory.
constexpr size_t c_flashCoreOffset = 0x307000;

void _CheckImage(const std::vector<unsigned char>& data)
{
    // An empty image over PCIe would erase sector 0 and leave one zero page: the board would lose
    // its firmware for nothing. The upload over the connection refuses it the same way.
    if (data.empty()) {
        throw std::out_of_range("bmc: WriteImage: empty image");
    }
    if (data.size() > UINT_MAX) {
        throw istd::Exception("bmc: WriteImage: image of " + std::to_string(data.size()) +
                                  " bytes exceeds the 32-bit upload length.",
                              true);
    }
}

// Releases a mapping when the scope ends, after what was made inside it.
class MappingScope {
public:
    MappingScope(const Board& board, DeviceMapping_t& mapping) : m_board(board), m_mapping(mapping) {}
    ~MappingScope() { m_board.UnmapDevice(m_mapping); }
    MappingScope(const MappingScope&) = delete;
    MappingScope& operator=(const MappingScope&) = delete;

private:
    const Board& m_board;
    DeviceMapping_t& m_mapping;
};

} // namespace

void Board::WriteImage(const RawImage& image)
{
    ISTD_TRACE_FNC("void bmc::Board::WriteImage(const bmc::RawImage&)");
    const std::vector<unsigned char> data(image.GetBuffer().begin(), image.GetBuffer().end());
    WriteImageData(data);
}

void Board::WriteImage(const HpmImage& image)
{
    ISTD_TRACE_FNC("void bmc::Board::WriteImage(const bmc::HpmImage&)");
    const std::vector<unsigned char> data(image.GetBuffer().begin(), image.GetBuffer().end());
    WriteImageData(data);
}

void Board::WriteImageData(const std::vector<unsigned char>& data)
{
    ISTD_TRACE_FNC("void bmc::Board::WriteImageData(const std::vector<unsigned char>&)");
    _CheckImage(data);
    if (WriteImagePcie(data)) {
        return;
    }
    _Own().Execute(eCmdWriteImage, {istd::AnyReference(data)}, Connection::m_noResult);
}

bool Board::WriteImagePcie(const std::vector<unsigned char>& data)
{
    ISTD_TRACE_FNC("bool bmc::Board::WriteImagePcie(const std::vector<unsigned char>&)");
    if (data.empty()) {
        return false;
    }
    DeviceMapping_t mapping;
    try {
        // Declared before the controller and the flash driver, so released after them.
        MappingScope release(*this, mapping);
        MapDevice(mapping);
        if (!IsFeatureSupported(mapping, c_featurePcieFlash)) {
            return false;
        }
        RequireMappedWindow(mapping, c_flashCoreOffset, sizeof(tSpiBusController));
        const BusControllerPtr controller = Create<SpiBusControllerFpgaAmba>(
            "spi_controller", 1, false,
            reinterpret_cast<volatile tSpiBusController*>(mapping.address + c_flashCoreOffset));
        const BusDevicePtr flash = Create<SerialFlash>(controller, "SerialFlash", 0, false);
        SendImagePcie(static_cast<SerialFlash*>(flash.get()), data);
        return true;
    } catch (const std::exception& e) {
        ISTD_TRACE(1, "bmc: upgrade of " << m_name << " over PCIe failed: " << e.what());
        std::cout << "Upgrade over PCIe failed. " << "Trying to upgrade over available IPMI interface." << std::endl;
        return false;
    }
}

void Board::SendImagePcie(SerialFlash* flash, const std::vector<unsigned char>& data) const
{
    ISTD_TRACE_FNC("void bmc::Board::SendImagePcie(bmc::SerialFlash*, const std::vector<unsigned char>&) const");
    _CheckImage(data);
    if (flash == nullptr) {
        throw istd::Exception("bmc: no serial flash to write the image to", true);
    }
    const int boardId = _DecimalId();
    const auto size = static_cast<unsigned int>(data.size());
    const unsigned int pages = size / SerialFlash::c_pageSize;
    const unsigned int rest = size % SerialFlash::c_pageSize;

    ConnectionCallback* callback = m_connection != nullptr ? m_connection->GetCallback() : nullptr;
    istd::Time start;
    if (callback != nullptr) {
        start = Clock::Now(6);
        callback->UpdateUpgradeStatus(boardId, 0, 0, 0, size, start);
    }
    flash->AutoincWriteInit();
    unsigned int sent = 0;
    unsigned int reported = 0;
    for (unsigned int s = 1; s <= pages + 1; ++s) {
        const unsigned char* at = data.data() + static_cast<size_t>(s - 1) * SerialFlash::c_pageSize;
        bool written = false;
        if (s <= pages) {
            written = flash->AutoincWrite(at);
            sent += SerialFlash::c_pageSize;
        } else {
            written = flash->AutoincWriteFinish(at, rest);
            sent += rest;
        }
        if (!written) {
            throw istd::Exception("Image write failed.", true);
        }
        if (callback != nullptr) {
            callback->UpdateUpgradeStatus(boardId, s, sent, sent - reported, size, Clock::Now(6) - start);
            reported = sent;
        }
    }
}

} // namespace bmc

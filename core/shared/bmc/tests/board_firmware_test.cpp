// Firmware upgrade of a board of the simulated chassis: over PCIe into the flash model behind the
// simulated SPI core of its monitor device, with a progress report per page, and the fallback to
// the HPM.1 upload over IPMI when the board does not offer the flash or writing it fails.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "bmc/board.h"
#include "bmc/bus_sleep.h"
#include "bmc/hpm_image.h"
#include "bmc/ipmi_usb_connection.h"
#include "bmc/raw_image.h"
#include "sim/chips/board_spi_sites.h"
#include "sim/cmc/simulator.h"
#include "sim/devices/monitor_device.h"

namespace {

using Bytes = std::vector<uint8_t>;
using sim::SpiFlashModel;

constexpr int c_slot = 4;
const char c_monitor[] = "/dev/kavrel4.monitor";
const char c_fallbackMessage[] = "Upgrade over PCIe failed. Trying to upgrade over available IPMI interface.\n";

Bytes Pattern(size_t size)
{
    Bytes bytes(size);
    for (size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<uint8_t>(i * 13 + 5);
    }
    return bytes;
}

// "sequence: total +since of size" per report; every report names the board.
class RecordingCallback : public bmc::ConnectionCallback {
public:
    void UpdateUpgradeStatus(int boardId, unsigned int sequence, unsigned int total, unsigned int since,
                             unsigned int fileSize, istd::Time) override
    {
        reports.push_back(std::to_string(sequence) + ": " + std::to_string(total) + " +" + std::to_string(since) +
                          " of " + std::to_string(fileSize));
        boards.push_back(boardId);
    }

    std::vector<std::string> reports;
    std::vector<int> boards;
};

class BoardFirmware : public ::testing::Test {
public:
    void SetUp() override
    {
        m_sim.LoadText("slot 0 KOZ\nslot 4 MOKVE\n  hpm caps=0x0A timeouts=10,5,5,20 components=0x01\n");
        m_sim.SetTimeScale(0);
        m_connection = std::make_unique<bmc::IpmiUsbConnection>(
            bmc::CreateLocalChassisUri(c_slot, bmc::Uri::eInterfaceIpmiUsb));
        m_board = std::make_unique<bmc::Board>(bmc::CreateLocalChassisUri(c_slot, bmc::Uri::eInterfaceIpmiUsb),
                                               bmc::eBoardPowerMngMain, "", m_connection.get());
        ASSERT_EQ(m_board->CreateDeviceName(bmc::eMonitorDevice, 0), c_monitor);
        m_board->SetConnectionCallback(&m_callback);
    }

    void TearDown() override
    {
        m_board.reset();
        m_connection.reset();
        m_sim.SetTimeScale(1);
        m_sim.Clear();
    }

    // A monitor device offering the flash (feature bit 0) with the flash model or none behind it.
    void Offer(std::shared_ptr<SpiFlashModel> flash, uint32_t features = 1)
    {
        m_device.reset(); // the path is claimed while a device lives
        m_device = std::make_unique<sim::MonitorDevice>(c_monitor, 0x400000, features);
        m_site = sim::AttachPcieFlash(*m_device, std::move(flash));
    }

    // Writes the image; returns what went to standard output.
    std::string Write(const Bytes& image)
    {
        ::testing::internal::CaptureStdout();
        m_board->WriteImage(bmc::RawImage(image.data(), static_cast<uint32_t>(image.size())));
        return ::testing::internal::GetCapturedStdout();
    }

    std::vector<Bytes> Uploads() const { return m_sim.Board(c_slot).uploads; }

    // Every path gives the mapping and its descriptor back.
    void ExpectReleased() const
    {
        if (m_device) {
            EXPECT_EQ(m_device->GetOpenDescriptorCount(), 0u);
            EXPECT_EQ(m_device->GetMappedAreaCount(), 0u);
        }
    }

    bmc::ScopedBusSleep m_instant{&bmc::InstantBusSleep};
    sim::cmc::Simulator& m_sim = sim::cmc::Simulator::Instance();
    std::unique_ptr<bmc::IpmiUsbConnection> m_connection;
    std::unique_ptr<bmc::Board> m_board;
    RecordingCallback m_callback;
    std::unique_ptr<sim::MonitorDevice> m_device;
    sim::PcieFlashSite m_site;
};

TEST_F(BoardFirmware, AnImageGoesIntoTheFlashPageByPageWithOneReportPerPage)
{
    struct Case {
        size_t size;
        std::vector<std::string> reports;
    };
    const std::vector<Case> cases = {
        {1000, {"0: 0 +0 of 1000", "1: 256 +256 of 1000", "2: 512 +256 of 1000", "3: 768 +256 of 1000",
                "4: 1000 +232 of 1000"}},
        {512, {"0: 0 +0 of 512", "1: 256 +256 of 512", "2: 512 +256 of 512", "3: 512 +0 of 512"}},
        {1, {"0: 0 +0 of 1", "1: 1 +1 of 1"}},
    };
    for (const Case& c : cases) {
        Offer(SpiFlashModel::Make(SpiFlashModel::c_layoutA));
        m_callback.reports.clear();
        const Bytes image = Pattern(c.size);
        EXPECT_EQ(Write(image), "") << c.size;
        EXPECT_EQ(m_callback.reports, c.reports) << c.size;
        EXPECT_EQ(m_callback.boards, std::vector<int>(m_callback.boards.size(), c_slot));
        // The image, then zeros to the end of the last page, then the erased rest of the sector.
        const size_t padded = (c.size / 256 + 1) * 256;
        EXPECT_EQ(m_site.flash->Read(0, c.size), image) << c.size;
        EXPECT_EQ(m_site.flash->Read(c.size, padded - c.size), Bytes(padded - c.size, 0x00)) << c.size;
        EXPECT_EQ(m_site.flash->Read(padded, 256), Bytes(256, 0xFF)) << c.size;
        EXPECT_EQ(m_site.flash->GetErasedSectors(), std::vector<uint32_t>{0}) << c.size;
        EXPECT_TRUE(Uploads().empty()) << c.size;
        ExpectReleased();
    }
}

TEST_F(BoardFirmware, AnHpmImageIsWrittenAsItsBytesAlsoWithoutProgressReports)
{
    m_board->SetConnectionCallback(nullptr);
    Offer(SpiFlashModel::Make(SpiFlashModel::c_layoutB));
    const bmc::HpmImage hpm(bmc::RawImage(Pattern(700).data(), 700), 1, 2, 0, bmc::eBoardTypeMOKVE);
    ::testing::internal::CaptureStdout();
    m_board->WriteImage(hpm);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
    const Bytes& bytes = hpm.GetBuffer();
    EXPECT_EQ(m_site.flash->Read(0, bytes.size()), bytes);
    EXPECT_TRUE(Uploads().empty());
    EXPECT_TRUE(m_callback.reports.empty());
}

TEST_F(BoardFirmware, WithoutAWorkingFlashTheImageGoesOverIpmi)
{
    struct Case {
        const char* what;
        std::function<void(BoardFirmware&)> setUp;
        std::string output;
        size_t programs; // pages the flash model took before the failure
    };
    const std::vector<Case> cases = {
        {"feature bit clear", [](BoardFirmware& t) { t.Offer(SpiFlashModel::Make(SpiFlashModel::c_layoutA), 0); },
         "", 0},
        {"no flash answers", [](BoardFirmware& t) { t.Offer(nullptr); }, c_fallbackMessage, 0},
        {"no monitor device", [](BoardFirmware&) {}, c_fallbackMessage, 0},
        {"the second page does not verify",
         [](BoardFirmware& t) {
             t.Offer(SpiFlashModel::Make(SpiFlashModel::c_layoutA));
             t.m_site.flash->SetStuckBits(256 + 5, 0x01);
         },
         c_fallbackMessage, 2},
        {"mapping too small for the SPI core",
         [](BoardFirmware& t) {
             t.m_device = std::make_unique<sim::MonitorDevice>(c_monitor, 0x307010, 1);
         },
         c_fallbackMessage, 0},
    };
    for (const Case& c : cases) {
        m_device.reset();
        m_site = sim::PcieFlashSite{};
        c.setUp(*this);
        m_callback.reports.clear();
        const size_t uploads = Uploads().size();
        const Bytes image = Pattern(1002); // bit 0 of the second page's byte 5 is clear
        ASSERT_EQ(image[256 + 5] & 1, 0) << c.what;
        EXPECT_EQ(Write(image), c.output) << c.what;
        ASSERT_EQ(Uploads().size(), uploads + 1) << c.what;
        EXPECT_EQ(Uploads().back(), image) << c.what;
        if (m_site.flash) {
            EXPECT_EQ(m_site.flash->GetProgramCount(), c.programs) << c.what;
            // The failed page ends the write: the finishing page is not written.
            EXPECT_EQ(m_site.flash->Read(512, 256), Bytes(256, 0xFF)) << c.what;
        }
        ExpectReleased();
    }
}

TEST_F(BoardFirmware, AnEmptyImageIsRefusedBeforeEitherPath)
{
    Offer(SpiFlashModel::Make(SpiFlashModel::c_layoutA));
    const size_t requests = m_sim.Requests().size();
    EXPECT_THROW(m_board->WriteImageData({}), std::out_of_range);
    EXPECT_TRUE(m_site.flash->GetOpcodes().empty());
    EXPECT_EQ(m_sim.Requests().size(), requests);
    EXPECT_TRUE(m_callback.reports.empty());
    EXPECT_FALSE(m_board->WriteImagePcie({}));
    EXPECT_TRUE(m_site.flash->GetOpcodes().empty());
    ExpectReleased();
}

} // namespace

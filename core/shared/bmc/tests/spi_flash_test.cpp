// The serial flash driver against the flash model behind the simulated SPI core: recognition,
// the sequential image write with its erases and read-back, its failures, and the small commands.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "istd/trace_capture.h"
#include "bmc/spi_bus_params.h"
#include "bmc/spi_device_serial_flash.h"
#include "common/bus_rigs.h"
#include "sim/chips/spi_flash.h"
#include "tests/support/error_of.h"

namespace {

using bmc::SerialFlash;
using Bytes = std::vector<uint8_t>;
using sim::SpiFlashModel;
using testsupport::ErrorOf;

Bytes Pattern(size_t size, unsigned seed = 1)
{
    Bytes bytes(size);
    uint32_t x = seed * 2654435761u + 12345;
    for (uint8_t& b : bytes) {
        x = x * 1103515245u + 12345;
        b = static_cast<uint8_t>(x >> 16);
    }
    return bytes;
}

size_t Count(const Bytes& opcodes, uint8_t opcode)
{
    size_t n = 0;
    for (uint8_t o : opcodes) {
        n += o == opcode;
    }
    return n;
}

// "bits:word" of every word the core shifted out.
std::vector<std::string> Shifts(const sim::SpiCoreModel& core)
{
    std::vector<std::string> shifts;
    for (const sim::SpiEvent& e : core.GetEvents()) {
        if (e.kind == sim::SpiEvent::eShift) {
            shifts.push_back(std::to_string(e.bits) + ":" + sim::HexText(e.word));
        }
    }
    return shifts;
}

// A flash model on chip select 0 of a simulated core, and the driver made on it.
struct FlashRig {
    explicit FlashRig(const SpiFlashModel::Kind& kind = SpiFlashModel::c_layoutA) : model(SpiFlashModel::Make(kind))
    {
        rig.core->Attach(0, model);
        device = bmc::Create<SerialFlash>(rig.bus, "SerialFlash", 0, false);
        flash = static_cast<SerialFlash*>(device.get());
    }

    // Writes the image as the upgrade does: whole pages, then the rest.
    bool WriteImage(const Bytes& image)
    {
        flash->AutoincWriteInit();
        size_t at = 0;
        for (; at + 256 <= image.size(); at += 256) {
            if (!flash->AutoincWrite(image.data() + at)) {
                return false;
            }
        }
        return flash->AutoincWriteFinish(image.data() + at, static_cast<uint32_t>(image.size() - at));
    }

    bmctest::SpiRig rig;
    std::shared_ptr<SpiFlashModel> model;
    bmc::BusDevicePtr device;
    SerialFlash* flash = nullptr;
};

TEST(SerialFlash, TheIdentificationSelectsTheLayoutOrFailsTheConstruction)
{
    struct Case {
        uint8_t id[3];
        bool answering;
        const bmc::tFlashConfig* layout; // null: construction fails
        const char* trace;
    };
    const std::vector<Case> cases = {
        {{0x20, 0x20, 0x17}, true, &bmc::c_flashLayoutA, "flash device supported!"},
        {{0x20, 0x20, 0x16}, true, &bmc::c_flashLayoutA, "flash device supported!"},
        {{0x01, 0x01, 0x16}, true, &bmc::c_flashLayoutA, "flash device supported!"},
        {{0x20, 0x20, 0x18}, true, &bmc::c_flashLayoutB, "flash device supported!"},
        {{0x89, 0x89, 0x13}, true, &bmc::c_flashLayoutA, "flash device supported!"},
        {{0x01, 0x20, 0x18}, true, nullptr, "flash device not supported!"},
        {{0x20, 0x20, 0x19}, true, nullptr, "flash device not supported!"},
        {{0x89, 0x89, 0x17}, true, nullptr, "flash device not supported!"},
        {{0x00, 0x00, 0x17}, true, nullptr, "flash device not found!"},
        {{0x20, 0x20, 0x17}, false, nullptr, "flash device not found!"}, // nothing answers: 0xFF
    };
    for (const Case& c : cases) {
        const std::string what = std::to_string(c.id[0]) + "/" + std::to_string(c.id[1]) + "/" +
                                 std::to_string(c.id[2]) + (c.answering ? "" : " silent");
        bmctest::SpiRig rig;
        auto model = std::make_shared<SpiFlashModel>(c.id[0], c.id[1], c.id[2], 1u << 20, 0x10000);
        model->SetAnswering(c.answering);
        rig.core->Attach(0, model);
        istd::TraceCapture trace(istd::eTraceError);
        bmc::BusDevicePtr device;
        const std::string error = ErrorOf([&] { device = bmc::Create<SerialFlash>(rig.bus, "flash", 0, false); });
        EXPECT_TRUE(trace.Contains(c.trace)) << what;
        if (c.layout == nullptr) {
            EXPECT_EQ(error, "Serial flash not supported or inaccessible.") << what;
            EXPECT_EQ(rig.bus->GetDeviceCount(), 0u) << what;
        } else {
            ASSERT_EQ(error, "no error") << what;
            EXPECT_EQ(static_cast<SerialFlash*>(device.get())->GetConfig(), c.layout) << what;
        }
    }
}

TEST(SerialFlash, AnImageAcrossTwoSectorsIsWrittenErasingEachSectorOnce)
{
    FlashRig f;
    // The flash stays busy a while after every erase and program: the driver waits it out.
    f.model->SetBusyReads(3);
    const Bytes image = Pattern(0x10000 + 1000);
    ASSERT_TRUE(f.WriteImage(image));

    EXPECT_EQ(f.model->Read(0, image.size()), image);
    // The finishing page is padded with zeros, and nothing after it is touched.
    EXPECT_EQ(f.model->Read(image.size(), 24), Bytes(24, 0x00));
    EXPECT_EQ(f.model->Read(0x10000 + 1024, 256), Bytes(256, 0xFF));
    EXPECT_EQ(f.model->GetErasedSectors(), (std::vector<uint32_t>{0, 0x10000}));
    EXPECT_EQ(f.model->GetProgramCount(), 256u + 4u);
    // The write is over: a further page is refused without a command.
    const size_t commands = f.model->GetOpcodes().size();
    EXPECT_FALSE(f.flash->AutoincWrite(image.data()));
    EXPECT_EQ(f.model->GetOpcodes().size(), commands);
}

TEST(SerialFlash, APageProgramIsSixtyFiveWordsOfThirtyTwoBitsAndTheReadBackOnePlusSixtyFour)
{
    FlashRig f;
    const Bytes page = Pattern(256);
    ASSERT_TRUE(f.flash->WriteEnable(true));
    f.rig.core->ClearTraces();
    ASSERT_TRUE(f.flash->WritePageAtAddr(0x1200, page.data()));
    std::vector<std::string> shifts = Shifts(*f.rig.core);
    ASSERT_EQ(shifts.size(), 65u);
    EXPECT_EQ(shifts[0], "32:0x2001200");
    EXPECT_EQ(shifts[1], "32:" + sim::HexText(uint32_t{page[0]} << 24 | uint32_t{page[1]} << 16 |
                                              uint32_t{page[2]} << 8 | page[3]));

    // The read: the command word, then 64 zero words that clock the page in.
    Bytes back(256);
    f.rig.core->ClearTraces();
    ASSERT_TRUE(f.flash->ReadPageAtAddr(0x1200, back.data()));
    shifts = Shifts(*f.rig.core);
    ASSERT_EQ(shifts.size(), 65u);
    EXPECT_EQ(shifts[0], "32:0x3001200");
    EXPECT_EQ(shifts[64], "32:0x00");
    EXPECT_EQ(back, page);
}

TEST(SerialFlash, AReadBackMismatchAnswersFalseAndTheSamePageIsWrittenAgainWithoutErasing)
{
    FlashRig f;
    const Bytes page = Pattern(256, 7);
    f.model->SetStuckBits(5, static_cast<uint8_t>(~page[5])); // byte 5 cannot take its value
    ASSERT_NE(page[5], 0xFF);
    istd::TraceCapture trace(istd::eTraceError);
    f.flash->AutoincWriteInit();
    EXPECT_FALSE(f.flash->AutoincWrite(page.data()));
    EXPECT_TRUE(trace.Contains("flash device: data mismatch5) ff!="));
    EXPECT_EQ(f.flash->GetWriteAddress(), 0u);

    f.model->SetStuckBits(5, 0);
    EXPECT_TRUE(f.flash->AutoincWrite(page.data()));
    EXPECT_EQ(f.flash->GetWriteAddress(), 256u);
    EXPECT_EQ(f.model->GetErasedSectors(), std::vector<uint32_t>{0});
    EXPECT_EQ(f.model->Read(0, 256), page);
}

TEST(SerialFlash, ABusyThatNeverClearsEndsTheWaitAndTheSectorIsNotTakenAsErased)
{
    FlashRig f;
    // Two million polls: keep neither the core's nor the chip's records of them.
    f.rig.core->SetTracing(false);
    f.model->SetRecording(false);
    f.model->SetOpcodeRecording(false);
    f.model->SetBusyStuck(true);
    const Bytes page = Pattern(256);
    f.flash->AutoincWriteInit();
    EXPECT_FALSE(f.flash->AutoincWrite(page.data()));
    EXPECT_EQ(f.flash->GetCurrentSector(), 0xFFFFFFFFu);
    EXPECT_TRUE(f.model->GetErasedSectors().empty());

    // Once the flash recovers, the same page erases its sector first.
    f.model->SetBusyStuck(false);
    EXPECT_TRUE(f.flash->AutoincWrite(page.data()));
    EXPECT_EQ(f.model->GetErasedSectors(), std::vector<uint32_t>{0});
    EXPECT_EQ(f.model->Read(0, 256), page);
}

TEST(SerialFlash, NoPageIsWrittenPastTheEndOfTheFlash)
{
    // The 24-bit address would wrap to 0: the page after the last would erase sector 0 again,
    // taking the start of the image just written with it.
    FlashRig f;
    f.rig.core->SetTracing(false);
    f.model->SetRecording(false);
    const Bytes page = Pattern(256);
    f.flash->AutoincWriteInit();
    for (uint32_t i = 0; i < (8u << 20) / 256; ++i) {
        ASSERT_TRUE(f.flash->AutoincWrite(page.data())) << i;
    }
    const size_t commands = f.model->GetOpcodes().size();
    EXPECT_FALSE(f.flash->AutoincWrite(page.data()));
    EXPECT_FALSE(f.flash->AutoincWriteFinish(page.data(), 0));
    EXPECT_EQ(f.model->GetOpcodes().size(), commands);
    EXPECT_EQ(f.model->GetErasedSectors().size(), 128u);
    EXPECT_EQ(f.model->Read(0, 256), page);
}

TEST(SerialFlash, TheFinishingPageIsPaddedWithZerosAndMoreThanAPageIsRefused)
{
    struct Case {
        uint32_t length;
        bool result;
    };
    for (const Case& c : std::vector<Case>{{10, true}, {0, true}, {256, true}, {257, false}}) {
        FlashRig f;
        const Bytes data = Pattern(300);
        f.flash->AutoincWriteInit();
        EXPECT_EQ(f.flash->AutoincWriteFinish(data.data(), c.length), c.result) << c.length;
        if (c.result) {
            Bytes expected(256, 0x00);
            std::copy(data.begin(), data.begin() + c.length, expected.begin());
            EXPECT_EQ(f.model->Read(0, 256), expected) << c.length;
        } else {
            EXPECT_EQ(Count(f.model->GetOpcodes(), SerialFlash::c_cmdPageProgram), 0u);
            EXPECT_EQ(f.model->Read(0, 256), Bytes(256, 0xFF));
        }
        // The write has ended either way.
        const size_t commands = f.model->GetOpcodes().size();
        EXPECT_FALSE(f.flash->AutoincWriteFinish(data.data(), 1)) << c.length;
        EXPECT_FALSE(f.flash->AutoincWrite(data.data())) << c.length;
        EXPECT_EQ(f.model->GetOpcodes().size(), commands) << c.length;
    }
}

TEST(SerialFlash, SmallCommandsAndTheirRefusals)
{
    FlashRig a(SpiFlashModel::c_layoutA);
    FlashRig b(SpiFlashModel::c_layoutB);
    // An erase needs the write enable latch, which the program, erase and status writes clear.
    for (FlashRig* f : {&a, &b}) {
        EXPECT_TRUE(f->flash->WriteEnable(true));
        EXPECT_TRUE(f->flash->IsWriteEnabled());
        EXPECT_TRUE(f->flash->SectorErase(3));
        EXPECT_FALSE(f->flash->IsWriteEnabled());
        EXPECT_FALSE(f->flash->IsWriteInProcess());
    }
    EXPECT_EQ(a.model->GetErasedSectors(), std::vector<uint32_t>{0x30000});
    EXPECT_EQ(b.model->GetErasedSectors(), std::vector<uint32_t>{0xC0000});

    FlashRig& f = a;
    const Bytes data = Pattern(300);
    Bytes buffer(300);
    f.model->ClearWords();
    const size_t commands = f.model->GetOpcodes().size();
    EXPECT_FALSE(f.flash->WritePageAtAddr(0x101, data.data()));
    EXPECT_FALSE(f.flash->ReadPageAtAddr(0x80, buffer.data()));
    EXPECT_TRUE(f.flash->ReadPage(0, buffer.data())); // leaves the word length at 32
    EXPECT_EQ(std::dynamic_pointer_cast<bmc::SpiBusParams>(f.device->GetParams())->m_transfer_len, 32);
    EXPECT_EQ(f.model->GetOpcodes().size(), commands + 1);
    EXPECT_FALSE(f.flash->TransferData(0x03, 0, nullptr, 0, buffer.data(), 257));
    EXPECT_FALSE(f.flash->WriteDataAtAddr(0, data.data(), 257));
    EXPECT_EQ(f.model->GetOpcodes().size(), commands + 1);
    EXPECT_EQ(std::dynamic_pointer_cast<bmc::SpiBusParams>(f.device->GetParams())->m_transfer_len, 8);

    // Byte-wise program and read, with the address most significant byte first.
    ASSERT_TRUE(f.flash->WriteEnable(true));
    ASSERT_TRUE(f.flash->WriteDataAtAddr(0x20010, data.data(), 5));
    ASSERT_TRUE(f.flash->ReadDataAtAddr(0x20010, buffer.data(), 5));
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 5), Bytes(data.begin(), data.begin() + 5));
    EXPECT_EQ(f.model->Read(0x20010, 5), Bytes(data.begin(), data.begin() + 5));

    // The status write carries one byte after its opcode; the protection bits are kept.
    ASSERT_TRUE(f.flash->WriteEnable(true));
    ASSERT_TRUE(f.flash->SetStatus(0x1C));
    EXPECT_EQ(f.flash->GetStatus(), 0x1C);
}

TEST(SerialFlash, PollLimitsAreCountsOfStatusReads)
{
    FlashRig f;
    f.model->SetBusyStuck(true);
    struct Case {
        uint32_t count;
        size_t reads;
    };
    // n allows n − 1 reads; 1 reads none, and 0 (which would allow 2^32 − 1) reads once.
    for (const Case& c : std::vector<Case>{{1, 0}, {2, 1}, {5, 4}, {0, 1}}) {
        const size_t before = Count(f.model->GetOpcodes(), SerialFlash::c_cmdReadStatus);
        EXPECT_FALSE(f.flash->IsReady(c.count)) << c.count;
        EXPECT_EQ(Count(f.model->GetOpcodes(), SerialFlash::c_cmdReadStatus) - before, c.reads) << c.count;
    }
    f.model->SetBusyStuck(false);
    f.model->SetBusyReads(2);
    ASSERT_TRUE(f.flash->WriteEnable(true));
    ASSERT_TRUE(f.flash->SectorErase(0));
    EXPECT_FALSE(f.flash->IsReady(3)); // two reads, both busy
    EXPECT_TRUE(f.flash->IsReady(2));
    // The write enable latch: ready for writing once it reads 0.
    ASSERT_TRUE(f.flash->WriteEnable(true));
    EXPECT_FALSE(f.flash->IsReadyForWritting(3));
    ASSERT_TRUE(f.flash->WriteEnable(false));
    EXPECT_TRUE(f.flash->IsReadyForWritting(2));
}

} // namespace

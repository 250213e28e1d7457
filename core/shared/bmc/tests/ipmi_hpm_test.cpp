// Firmware upload and read-back over IPMI against the simulated chassis management controller:
// the blocks on the wire, their shrinking on 0xC7, the progress reports, refusals, and the image
// read back as it was uploaded.

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "istd/trace_capture.h"
#include "bmc/hpm_image.h"
#include "bmc/ipmi_exception.h"
#include "bmc/ipmi_usb_connection.h"
#include "common/fake_clock.h"
#include "sim/cmc/simulator.h"

namespace {

using Bytes = std::vector<uint8_t>;
using istd::AnyReference;

constexpr int c_slot = 1;

Bytes Pattern(size_t size)
{
    Bytes bytes(size);
    for (size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<uint8_t>(i * 7 + 3);
    }
    return bytes;
}

struct Report {
    int board;
    unsigned int sequence;
    unsigned int total;
    unsigned int additional;
    unsigned int fileSize;
    istd::Time elapsed;

    std::string Text() const
    {
        return std::to_string(sequence) + ": " + std::to_string(total) + " +" + std::to_string(additional) + " of " +
               std::to_string(fileSize);
    }
};

// Records each report; the fake clock moves 1 ms per report, so elapsed times tell them apart.
class RecordingCallback : public bmc::ConnectionCallback {
public:
    void UpdateUpgradeStatus(int boardId, unsigned int sequenceNumber, unsigned int totalBytesSent,
                             unsigned int additionalBytesSent, unsigned int fileSize, istd::Time elapsed) override
    {
        reports.push_back({boardId, sequenceNumber, totalBytesSent, additionalBytesSent, fileSize, elapsed});
        bmctest::FakeClock::Advance(0, 1000000);
    }

    std::vector<std::string> Texts() const
    {
        std::vector<std::string> texts;
        for (const Report& r : reports) {
            texts.push_back(r.Text());
        }
        return texts;
    }

    std::vector<Report> reports;
};

class IpmiHpm : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_sim.LoadText("slot 0 KOZ\nslot 1 PAX\n  hpm caps=0x0A timeouts=10,5,5,20 components=0x01\n");
        m_sim.SetTimeScale(0);
    }

    void TearDown() override
    {
        m_sim.SetTimeScale(1);
        m_sim.Clear();
    }

    void Upload(const Bytes& image)
    {
        m_connection.Execute(bmc::eCmdWriteImage, {AnyReference(image)}, bmc::Connection::m_noResult);
    }

    Bytes ReadBack()
    {
        Bytes image;
        m_connection.Execute(bmc::eCmdGetImage, bmc::Connection::m_noArgs, AnyReference(image));
        return image;
    }

    // The requests of one command that reached the board's controller.
    std::vector<Bytes> Sent(uint8_t cmd) const
    {
        std::vector<Bytes> found;
        for (const sim::cmc::Request& r : m_sim.Requests()) {
            if (r.slot == c_slot && r.netFn == 0x2C && r.cmd == cmd) {
                found.push_back(r.data);
            }
        }
        return found;
    }

    // "number:length" of each upload block sent.
    std::vector<std::string> Blocks() const
    {
        std::vector<std::string> blocks;
        for (const Bytes& data : Sent(0x32)) {
            blocks.push_back(std::to_string(data.at(1)) + ":" + std::to_string(data.size() - 2));
        }
        return blocks;
    }

    std::vector<Bytes> Uploads() const { return m_sim.Board(c_slot).uploads; }

    sim::cmc::Simulator& m_sim = sim::cmc::Simulator::Instance();
    bmc::IpmiUsbConnection m_connection{bmc::CreateLocalChassisUri(c_slot, bmc::Uri::eInterfaceIpmiUsb)};
};

TEST_F(IpmiHpm, AnUploadIsInitiateCapabilitiesBlocksAndFinish)
{
    struct Case {
        size_t size;
        std::vector<std::string> blocks;
    };
    std::vector<std::string> wrapping;
    for (int k = 0; k < 258; ++k) {
        wrapping.push_back(std::to_string(k % 256) + (k < 257 ? ":56" : ":1"));
    }
    const std::vector<Case> cases = {
        {112, {"0:56", "1:56"}},
        {57, {"0:56", "1:1"}},
        {1, {"0:1"}},
        {56, {"0:56"}},
        // The block number wraps at 256 as the controller counts them.
        {56 * 257 + 1, wrapping},
    };
    for (const Case& c : cases) {
        m_sim.ClearLogs();
        const Bytes image = Pattern(c.size);
        ASSERT_NO_THROW(Upload(image)) << c.size;
        EXPECT_EQ(Blocks(), c.blocks) << c.size;
        EXPECT_EQ(Sent(0x31), std::vector<Bytes>{Bytes({0x00, 0x01, 0x02})});
        EXPECT_EQ(Sent(0x2E), std::vector<Bytes>{Bytes{0x00}});
        const Bytes finish{0x00, 0x00, static_cast<uint8_t>(c.size), static_cast<uint8_t>(c.size >> 8), 0, 0};
        EXPECT_EQ(Sent(0x33), std::vector<Bytes>{finish}) << c.size;
        ASSERT_FALSE(Uploads().empty());
        EXPECT_EQ(Uploads().back(), image) << c.size;
    }
    // Nothing but the upgrade requests, in their order.
    std::vector<int> order;
    for (const sim::cmc::Request& r : m_sim.Requests()) {
        if (order.empty() || order.back() != r.cmd) {
            order.push_back(r.cmd);
        }
    }
    EXPECT_EQ(order, (std::vector<int>{0x31, 0x2E, 0x32, 0x33}));
}

TEST_F(IpmiHpm, ProgressIsReportedForEveryBlockInOrder)
{
    bmctest::FakeClock clock;
    const istd::Time start = bmctest::FakeClock::Now();
    RecordingCallback callback;
    m_connection.SetCallback(&callback);
    Upload(Pattern(112));
    m_connection.SetCallback(nullptr);

    EXPECT_EQ(callback.Texts(), (std::vector<std::string>{"0: 0 +0 of 112", "1: 56 +56 of 112", "2: 112 +56 of 112"}));
    ASSERT_EQ(callback.reports.size(), 3u);
    // The first report carries the start time itself, the others the time since.
    EXPECT_EQ(callback.reports[0].elapsed, start);
    EXPECT_EQ(callback.reports[1].elapsed, istd::Time(0, 1000000));
    EXPECT_EQ(callback.reports[2].elapsed, istd::Time(0, 2000000));
    for (const Report& r : callback.reports) {
        EXPECT_EQ(r.board, c_slot);
    }
}

TEST_F(IpmiHpm, TheCapabilitiesAreTracedAtDetailLevel)
{
    istd::TraceCapture capture(istd::eTraceDetail);
    m_connection.Open();
    EXPECT_EQ(m_connection.TestFpgaCapabilities(), 0);
    m_connection.Close();
    // The board's capabilities 0x0A: services affected (bit 3) and automatic rollback (bit 1).
    for (const char* line :
         {"FPGA UPGRADE CAPABILITIES", "Component 0 presence....y", "Component 1 presence....n",
          "Component byte..........y", "Upgrade undesirable.....n", "Service affected........y",
          "Manual rollback.........n", "Automatic rollback......y", "Self test...............n",
          "Upgrade timeout.........[10 sec]", "Inaccessibility timeout.[20 sec]"}) {
        EXPECT_TRUE(capture.Contains(line)) << line;
    }
}

TEST_F(IpmiHpm, ABlockRefusedWithC7IsOfferedAgainOneByteShorter)
{
    m_sim.AddFault("ccode 0xC7 slot=1 netfn=0x2c cmd=0x32 count=1");
    RecordingCallback callback;
    m_connection.SetCallback(&callback);
    const Bytes image = Pattern(112);
    Upload(image);
    m_connection.SetCallback(nullptr);

    // The smaller size holds for the rest of the upload.
    EXPECT_EQ(Blocks(), (std::vector<std::string>{"0:56", "0:55", "1:55", "2:2"}));
    const std::vector<Bytes> blocks = Sent(0x32);
    EXPECT_EQ(blocks.at(1), Bytes(blocks.at(0).begin(), blocks.at(0).end() - 1));
    EXPECT_EQ(Uploads().back(), image);
    EXPECT_EQ(callback.Texts(), (std::vector<std::string>{"0: 0 +0 of 112", "1: 0 +0 of 112", "2: 55 +55 of 112",
                                                          "3: 110 +55 of 112", "4: 112 +2 of 112"}));
}

TEST_F(IpmiHpm, AControllerThatAlwaysAnswersC7EndsTheUpload)
{
    m_sim.AddFault("ccode 0xC7 slot=1 netfn=0x2c cmd=0x32 count=forever");
    RecordingCallback callback;
    m_connection.SetCallback(&callback);
    try {
        Upload(Pattern(200));
        ADD_FAILURE() << "no exception";
    } catch (const bmc::IpmiException& e) {
        EXPECT_EQ(e.GetCode(), 0xC7);
        EXPECT_STREQ(e.what(),
                     "bmc: SendRawPackage failed uploading firmware block (IPMI_CC_REQ_DATA_INV_LENGTH)");
    }
    m_connection.SetCallback(nullptr);
    // Sizes 56 down to 1, each block 0; never nothing, never more than 57 bytes.
    const std::vector<Bytes> blocks = Sent(0x32);
    ASSERT_EQ(blocks.size(), 56u);
    for (size_t k = 0; k < blocks.size(); ++k) {
        EXPECT_EQ(blocks[k].size() - 2, 56 - k);
        EXPECT_EQ(blocks[k][1], 0);
    }
    EXPECT_TRUE(Sent(0x33).empty());
    EXPECT_TRUE(Uploads().empty());
    EXPECT_EQ(callback.reports.size(), 57u);
    EXPECT_EQ(callback.reports.back().total, 0u);
}

TEST_F(IpmiHpm, RefusedUploads)
{
    struct Case {
        const char* what;
        const char* fault;  // null: none
        Bytes image;
        int code;           // of the IpmiException; -1: std::out_of_range
        size_t blocks;      // block requests sent
        const char* traced; // at level 1, or null
    };
    const std::vector<Case> cases = {
        {"empty image", nullptr, Bytes{}, -1, 0, nullptr},
        {"capabilities refused", "ccode 0xC1 slot=1 netfn=0x2c cmd=0x2e", Pattern(112), 0xC1, 0,
         "Error getting target upgrade capabilities = 193 (IPMI_CC_INV_CMD)"},
        // The initiate's refusal alone does not stop the upload; the controller then refuses the
        // blocks it was not prepared for.
        {"initiate refused", "ccode 0xCC slot=1 netfn=0x2c cmd=0x31", Pattern(112), 0xD5, 1,
         "Init. of hpm upgrade action failed = 204 (IPMI_CC_INV_DATA_FIELD_IN_REQ)"},
        {"second block refused", "ccode 0xC0 slot=1 netfn=0x2c cmd=0x32 skip=1", Pattern(112), 0xC0, 2, nullptr},
        {"finish refused", "ccode 0xFF slot=1 netfn=0x2c cmd=0x33", Pattern(112), 0xFF, 2, nullptr},
    };
    for (const Case& c : cases) {
        m_sim.ClearFaults();
        m_sim.ClearLogs();
        // An upload the previous case left open on the controller must not carry this one.
        m_sim.Modify(c_slot, [](sim::cmc::BoardModel& b) { b.uploadActive = false; });
        if (c.fault != nullptr) {
            m_sim.AddFault(c.fault);
        }
        istd::TraceCapture capture(istd::eTraceError);
        if (c.code < 0) {
            EXPECT_THROW(Upload(c.image), std::out_of_range) << c.what;
            // Refused before the controller heard of an upgrade.
            EXPECT_TRUE(m_sim.Requests().empty()) << c.what;
        } else {
            try {
                Upload(c.image);
                ADD_FAILURE() << c.what << ": no exception";
            } catch (const bmc::IpmiException& e) {
                EXPECT_EQ(e.GetCode(), c.code) << c.what;
            }
        }
        EXPECT_EQ(Sent(0x32).size(), c.blocks) << c.what;
        if (c.traced != nullptr) {
            EXPECT_TRUE(capture.Contains(c.traced)) << c.what;
        }
        EXPECT_TRUE(Uploads().empty()) << c.what;
    }
}

TEST_F(IpmiHpm, TheImageReadBackIsTheImageUploaded)
{
    const bmc::HpmImage built(bmc::RawImage(Pattern(1000)), 3, 7, 513, bmc::eBoardTypePAX);
    Upload(built.GetBuffer());

    bmctest::FakeClock clock;
    RecordingCallback callback;
    m_connection.SetCallback(&callback);
    m_sim.ClearLogs();
    const Bytes image = ReadBack();
    m_connection.SetCallback(nullptr);

    EXPECT_EQ(image, built.GetBuffer());
    EXPECT_NO_THROW(bmc::CreateHpmImage(image));

    // Header in two answers, the 1000 firmware bytes in answers of 59, the digest from 1069;
    // the offset goes most significant byte first.
    std::vector<unsigned int> offsets;
    for (const Bytes& data : Sent(0x2F)) {
        ASSERT_EQ(data.size(), 6u);
        EXPECT_EQ(Bytes(data.begin(), data.begin() + 3), (Bytes{0x00, 0x00, 0x0B}));
        offsets.push_back(static_cast<unsigned int>(data[3] << 16 | data[4] << 8 | data[5]));
    }
    std::vector<unsigned int> expected{0, 59};
    for (unsigned int p = 69; p < 1069; p += 59) {
        expected.push_back(p);
    }
    expected.push_back(1069);
    EXPECT_EQ(offsets, expected);
    EXPECT_EQ(Sent(0x2F).back(), (Bytes{0x00, 0x00, 0x0B, 0x00, 0x04, 0x2D}));

    // Only the body is reported, as a part of the whole file; each report counts the bytes
    // before the answer it follows.
    ASSERT_EQ(callback.reports.size(), 18u);
    EXPECT_EQ(callback.reports.front().Text(), "0: 0 +0 of 1085");
    EXPECT_EQ(callback.reports.front().elapsed, istd::Time(0, 0));
    EXPECT_EQ(callback.reports[1].Text(), "1: 0 +0 of 1085");
    EXPECT_EQ(callback.reports[2].Text(), "2: 59 +59 of 1085");
    EXPECT_EQ(callback.reports[16].Text(), "16: 885 +59 of 1085");
    EXPECT_EQ(callback.reports.back().Text(), "17: 1085 +200 of 1085");
}

TEST_F(IpmiHpm, ReadBufferTakesAnswersOfAnySize)
{
    m_sim.Modify(c_slot, [](sim::cmc::BoardModel& b) { b.image = Pattern(100); });
    m_sim.AddFault("pieces 20 slot=1 netfn=0x2c cmd=0x2f count=forever");
    RecordingCallback callback;
    m_connection.SetCallback(&callback);
    m_connection.Open();
    int offset = 10;
    const Bytes read = m_connection.ReadBuffer(50, offset, true, 7);
    m_connection.Close();
    m_connection.SetCallback(nullptr);

    const Bytes all = Pattern(100);
    EXPECT_EQ(read, Bytes(all.begin() + 10, all.begin() + 60));
    EXPECT_EQ(offset, 60);
    EXPECT_EQ(Sent(0x2F).size(), 3u);
    EXPECT_EQ(callback.Texts(),
              (std::vector<std::string>{"0: 0 +0 of 57", "1: 0 +0 of 57", "2: 20 +20 of 57", "3: 57 +37 of 57"}));
}

TEST_F(IpmiHpm, ReadBackFailuresEndTheRead)
{
    struct Case {
        const char* what;
        const char* fault;
        int code; // of the IpmiException; -1: istd::Exception
        const char* text;
        size_t requests;
    };
    const std::vector<Case> cases = {
        {"refused", "ccode 0xC0 slot=1 netfn=0x2c cmd=0x2f skip=2", 0xC0,
         "bmc: ReadBuffer failed getting firmware data. (IPMI_CC_NODE_BUSY)", 3},
        // An empty answer would be asked again forever.
        {"empty answers", "truncate 0 slot=1 netfn=0x2c cmd=0x2f count=forever", -1,
         "bmc: ReadBuffer failed getting firmware data. (no data returned at offset 0)", 1},
    };
    Upload(bmc::HpmImage(bmc::RawImage(Pattern(200)), 1, 0, 0, bmc::eBoardTypePAX).GetBuffer());
    for (const Case& c : cases) {
        m_sim.ClearFaults();
        m_sim.ClearLogs();
        m_sim.AddFault(c.fault);
        Bytes image{1, 2, 3};
        try {
            m_connection.Execute(bmc::eCmdGetImage, bmc::Connection::m_noArgs, AnyReference(image));
            ADD_FAILURE() << c.what << ": no exception";
        } catch (const bmc::IpmiException& e) {
            EXPECT_EQ(e.GetCode(), c.code) << c.what;
            EXPECT_STREQ(e.what(), c.text) << c.what;
        } catch (const istd::Exception& e) {
            EXPECT_EQ(c.code, -1) << c.what;
            EXPECT_STREQ(e.what(), c.text) << c.what;
        }
        EXPECT_EQ(image, (Bytes{1, 2, 3})) << c.what;
        EXPECT_EQ(Sent(0x2F).size(), c.requests) << c.what;
    }
}

TEST_F(IpmiHpm, ReadBackRefusesLengthsBeyondTheOffsetsReach)
{
    // A stored header naming the firmware length, followed by some bytes.
    auto store = [&](uint32_t length) {
        Bytes image = Pattern(200);
        for (int i = 0; i < 4; ++i) {
            image[bmc::HpmImage::c_lengthOffset + i] = static_cast<uint8_t>(length >> (8 * i));
        }
        m_sim.Modify(c_slot, [&](sim::cmc::BoardModel& b) { b.image = image; });
        m_sim.ClearLogs();
    };
    const uint32_t largest = (1u << 24) - 85;
    for (uint32_t length : {largest + 1, 0xFFFFFFFFu}) {
        store(length);
        try {
            ReadBack();
            ADD_FAILURE() << length << ": no exception";
        } catch (const bmc::IpmiException&) {
            ADD_FAILURE() << length << ": refused by the controller, not by the length check";
        } catch (const istd::Exception& e) {
            EXPECT_NE(std::string(e.what()).find("exceeds what the read-back offset can address"), std::string::npos)
                << e.what();
        }
        // The header alone was read.
        EXPECT_EQ(Sent(0x2F).size(), 2u) << length;
    }
    // The largest length is asked for: the controller's image ends before it.
    store(largest);
    try {
        ReadBack();
        ADD_FAILURE() << "no exception";
    } catch (const bmc::IpmiException& e) {
        EXPECT_EQ(e.GetCode(), 0xC9);
    }
    EXPECT_EQ(Sent(0x2F).size(), 6u);

    // ReadBuffer itself refuses a read that would cross the 24-bit offset; one that ends on it
    // is asked for.
    m_connection.Open();
    int offset = (1 << 24) - 10;
    EXPECT_THROW(m_connection.ReadBuffer(10, offset, false, 0), bmc::IpmiException);
    m_sim.ClearLogs();
    EXPECT_THROW(m_connection.ReadBuffer(11, offset, false, 0), istd::Exception);
    EXPECT_TRUE(Sent(0x2F).empty());
    offset = -1;
    EXPECT_THROW(m_connection.ReadBuffer(1, offset, false, 0), istd::Exception);
    m_connection.Close();
}

} // namespace

// Commands from several threads on one IPMI-over-USB connection run one after another: the
// requests of one command never interleave with another's, and every answer reaches its own
// caller.

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "bmc/ipmi_usb_connection.h"
#include "sim/cmc/simulator.h"

namespace {

using istd::AnyReference;

TEST(IpmiUsbThreads, CommandsOnOneConnectionDoNotInterleave)
{
    auto& sim = sim::cmc::Simulator::Instance();
    sim.Load(KAVREL_SOURCE_DIR "/sim/cmc/data/chassis.txt");
    sim.SetTimeScale(0);
    bmc::IpmiUsbConnection pax(bmc::CreateLocalChassisUri(1, bmc::Uri::eInterfaceIpmiUsb));
    bmc::IpmiUsbConnection mokve(bmc::CreateLocalChassisUri(2, bmc::Uri::eInterfaceIpmiUsb));
    const std::vector<uint8_t> expected = sim.Board(1).sensors[1].record;

    constexpr int c_threads = 4;
    constexpr int c_rounds = 15;
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < c_threads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < c_rounds; ++i) {
                try {
                    if ((t + i) % 2 == 0) {
                        const bmc::SensorId id(1);
                        sensor_record record{};
                        pax.Execute(bmc::eCmdReadSDR, {AnyReference(id)}, AnyReference(record));
                        wrong += std::memcmp(record.data, expected.data(), sizeof record.data) != 0;
                    } else {
                        ipm_devid_ext_rsp identity{};
                        bmc::Connection& connection = t % 2 == 0 ? pax : mokve;
                        connection.Execute(bmc::eCmdGetDeviceId, bmc::Connection::m_noArgs, AnyReference(identity));
                        wrong += identity.deviceId != (&connection == &pax ? 62 : 173);
                    }
                } catch (const std::exception& e) {
                    ADD_FAILURE() << e.what();
                }
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(wrong.load(), 0);

    // On slot 1, each record read is six requests in a row (pieces of 71, 71, 62, 30, 30, 11
    // bytes) and each identity two.
    std::vector<sim::cmc::Request> requests;
    for (const sim::cmc::Request& r : sim.Requests()) {
        if (r.slot == 1) {
            requests.push_back(r);
        }
    }
    size_t i = 0;
    size_t records = 0;
    while (i < requests.size()) {
        const sim::cmc::Request& first = requests[i];
        if (first.netFn == 0x04) {
            ASSERT_LE(i + 6, requests.size());
            for (size_t k = 0; k < 6; ++k) {
                const sim::cmc::Request& piece = requests[i + k];
                ASSERT_EQ(piece.netFn, 0x04) << i + k;
                ASSERT_EQ(piece.data[4], (std::vector<int>{0, 0, 0, 0, 30, 60}[k])) << i + k;
            }
            i += 6;
            ++records;
        } else {
            ASSERT_LE(i + 2, requests.size());
            ASSERT_EQ(requests[i + 1].data.size(), 1u) << "the extended identity request follows at once";
            i += 2;
        }
    }
    EXPECT_EQ(records, static_cast<size_t>(c_threads * c_rounds / 2));
    sim.SetTimeScale(1);
    sim.Clear();
}

} // namespace

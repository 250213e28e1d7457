// HPI connections made, used and destroyed on many threads while others enumerate: the one
// session is never open twice, every open is matched by one close once the last connection is
// gone, and the connections' commands all succeed. The seam stands in for OpenHPI (no daemon),
// so only board management's own locking is under test.

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "bmc/board_pool.h"
#include "bmc/hpi_connection.h"
#include "common/hpi_seam.h"

namespace {

TEST(HpiSessionThreads, OneSessionIsSharedOpenedAndClosedInStep)
{
    bmctest::HpiSeam::Settings settings;
    settings.fake = true;
    bmctest::HpiSeam seam(settings);
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t, &failures] {
            const bmc::Uri uri(bmc::Uri::eAmc, t, bmc::Uri::eInterfaceDefault);
            for (int i = 0; i < 40; ++i) {
                try {
                    auto connection = std::make_unique<bmc::HpiConnection>(uri);
                    connection->SetBoardType(bmc::eBoardTypeMOKVE);
                    ipm_devid_ext_rsp identity{};
                    connection->Execute(bmc::eCmdGetDeviceId, bmc::Connection::m_noArgs,
                                        istd::AnyReference(identity));
                    unsigned int count = 1;
                    connection->Execute(bmc::eCmdGetSDRInfo, bmc::Connection::m_noArgs, istd::AnyReference(count));
                    failures += identity.deviceId != bmc::eBoardTypeMOKVE || count != 0;
                } catch (...) {
                    ++failures;
                }
            }
        });
    }
    threads.emplace_back([&failures] {
        for (int i = 0; i < 20; ++i) {
            failures += !bmc::EnumerateHpiBoards().empty();
        }
    });
    for (std::thread& thread : threads) {
        thread.join();
    }
    // An enumeration may have left the session open: the next connection to go closes it.
    std::make_unique<bmc::HpiConnection>(bmc::Uri(bmc::Uri::eAmc, 9, bmc::Uri::eInterfaceDefault)).reset();

    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(bmctest::HpiSeam::MostOpenAtOnce(), 1);
    EXPECT_GE(bmctest::HpiSeam::Opened().size(), 1u);
    EXPECT_EQ(bmctest::HpiSeam::Closed(), bmctest::HpiSeam::Opened());
}

} // namespace

// Commands per second through the IPMI-over-USB transport against the simulated chassis
// management controller. Every command opens, claims and drains the device; the drain's last
// read ends by its 10 ms time-out when nothing is pending. The simulator's time scale makes
// that wait real (1) or instant (0), so the two runs of Execute differ by the drain alone.
//
//   BM_RawRoundTrip     one request and answer frame straight through libusb on a claimed
//                       device: the floor the simulator sets (baseline)
//   BM_SendCommand      the same through the transport on an open connection
//   BM_OpenClose        search (cached), open, claim, drain, release, close
//   BM_Execute          one whole command (Get Device SDR Info)
// Wall-clock time throughout: the drain waits, it does not compute.

#include <benchmark/benchmark.h>

#include <libusb-1.0/libusb.h>

#include <stdexcept>

#include "bmc/ipmi_usb_connection.h"
#include "sim/cmc/simulator.h"

namespace {

constexpr int c_slot = 1;

const char* const c_chassis = R"(slot 0 KOZ
slot 1 PAX
  sensor full name=PAX-FPGA stype=1 unit=1 m=1 raw=47
  sensor full name=PAX-1V0 stype=2 unit=4 m=5 k2=-3 raw=201
)";

void LoadChassis(double timeScale)
{
    auto& sim = sim::cmc::Simulator::Instance();
    sim.LoadText(c_chassis);
    sim.SetTimeScale(timeScale);
}

// The simulator logs every frame; keep the logs from growing through a long run.
void TrimLogs(benchmark::State& state)
{
    if ((state.iterations() & 0xFFF) == 0) {
        sim::cmc::Simulator::Instance().ClearLogs();
    }
}

bmc::Uri SlotUri()
{
    return bmc::CreateLocalChassisUri(c_slot, bmc::Uri::eInterfaceIpmiUsb);
}

void BM_RawRoundTrip(benchmark::State& state)
{
    LoadChassis(0);
    libusb_context* context = nullptr;
    libusb_device_handle* handle = nullptr;
    if (libusb_init(&context) != 0 ||
        (handle = libusb_open_device_with_vid_pid(context, bmc::IpmiUsbConnection::c_vendorId,
                                                  sim::cmc::ProductIdForSlot(c_slot))) == nullptr ||
        libusb_claim_interface(handle, 0) != 0) {
        state.SkipWithError("cannot reach the simulated controller");
        return;
    }
    unsigned char request[64] = {0x04, 0x00, 0x20};
    unsigned char answer[64];
    for (auto _ : state) {
        int n = 0;
        libusb_bulk_transfer(handle, 0x02, request, 64, &n, 500);
        libusb_bulk_transfer(handle, 0x82, answer, 64, &n, 5000);
        benchmark::DoNotOptimize(answer);
        TrimLogs(state);
    }
    state.SetItemsProcessed(state.iterations());
    libusb_release_interface(handle, 0);
    libusb_close(handle);
    libusb_exit(context);
}
BENCHMARK(BM_RawRoundTrip)->UseRealTime()->Unit(benchmark::kMicrosecond);

void BM_SendCommand(benchmark::State& state)
{
    LoadChassis(0);
    bmc::IpmiUsbConnection connection(SlotUri());
    connection.Open();
    ipmi_rq request{};
    request.netFn = 0x04;
    request.cmd = 0x20;
    ipmi_rs response;
    for (auto _ : state) {
        connection.SendCommand(request, response);
        benchmark::DoNotOptimize(response.data[0]);
        TrimLogs(state);
    }
    state.SetItemsProcessed(state.iterations());
    connection.Close();
}
BENCHMARK(BM_SendCommand)->UseRealTime()->Unit(benchmark::kMicrosecond);

// Argument: the simulator's time scale (0: instant drain, 1: the 10 ms drain time-out).
void BM_OpenClose(benchmark::State& state)
{
    LoadChassis(static_cast<double>(state.range(0)));
    bmc::IpmiUsbConnection connection(SlotUri());
    for (auto _ : state) {
        connection.Open();
        connection.Close();
        TrimLogs(state);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_OpenClose)->ArgName("drain_10ms")->Arg(0)->Arg(1)->UseRealTime()->Unit(benchmark::kMicrosecond);

void BM_Execute(benchmark::State& state)
{
    LoadChassis(static_cast<double>(state.range(0)));
    bmc::IpmiUsbConnection connection(SlotUri());
    unsigned int sensors = 0;
    const istd::AnyReference result(sensors);
    for (auto _ : state) {
        connection.Execute(bmc::eCmdGetSDRInfo, bmc::Connection::m_noArgs, result);
        TrimLogs(state);
    }
    if (sensors != 2) {
        state.SkipWithError("wrong answer");
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Execute)->ArgName("drain_10ms")->Arg(0)->Arg(1)->UseRealTime()->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();

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
//   BM_HpmUpload        a firmware upload on an open connection (initiate, capabilities, the
//                       blocks, finish); items are request frames, to set against BM_SendCommand
//   BM_HpmReadBack      the read-back of that image in frames of 59 bytes, likewise
// Wall-clock time throughout: the drain waits, it does not compute.

#include <benchmark/benchmark.h>

#include <libusb-1.0/libusb.h>

#include <stdexcept>
#include <vector>

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

// Argument: the image size in bytes; 56 of them go in each block.
bmc::ImageData UploadImage(size_t size)
{
    bmc::ImageData image(size);
    for (size_t i = 0; i < size; ++i) {
        image[i] = static_cast<uint8_t>(i);
    }
    return image;
}

// The controller keeps every finished upload; drop them so a long run does not grow.
void DropUploads(benchmark::State& state)
{
    if ((state.iterations() & 0xFF) == 0) {
        sim::cmc::Simulator::Instance().Modify(c_slot, [](sim::cmc::BoardModel& b) { b.uploads.clear(); });
    }
}

void BM_HpmUpload(benchmark::State& state)
{
    LoadChassis(0);
    const bmc::ImageData image = UploadImage(static_cast<size_t>(state.range(0)));
    const int64_t frames = 3 + (state.range(0) + 55) / 56;
    bmc::IpmiUsbConnection connection(SlotUri());
    connection.Open();
    for (auto _ : state) {
        connection.WriteImage(image);
        TrimLogs(state);
        DropUploads(state);
    }
    state.SetItemsProcessed(state.iterations() * frames);
    state.SetBytesProcessed(state.iterations() * state.range(0));
    connection.Close();
}
BENCHMARK(BM_HpmUpload)->ArgName("bytes")->Arg(56 * 64)->Arg(56 * 1024)->UseRealTime()->Unit(benchmark::kMicrosecond);

void BM_HpmReadBack(benchmark::State& state)
{
    LoadChassis(0);
    bmc::IpmiUsbConnection connection(SlotUri());
    connection.Open();
    // A stored image whose length field names its body: header, body, digest.
    bmc::ImageData image = UploadImage(static_cast<size_t>(state.range(0)) + 85);
    const uint32_t length = static_cast<uint32_t>(state.range(0));
    for (int i = 0; i < 4; ++i) {
        image[65 + static_cast<size_t>(i)] = static_cast<uint8_t>(length >> (8 * i));
    }
    sim::cmc::Simulator::Instance().Modify(c_slot, [&](sim::cmc::BoardModel& b) { b.image = image; });
    const int64_t frames = 2 + (state.range(0) + 58) / 59 + 1;
    for (auto _ : state) {
        benchmark::DoNotOptimize(connection.GetImage());
        TrimLogs(state);
    }
    state.SetItemsProcessed(state.iterations() * frames);
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(image.size()));
    connection.Close();
}
BENCHMARK(BM_HpmReadBack)->ArgName("bytes")->Arg(59 * 1024)->UseRealTime()->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();

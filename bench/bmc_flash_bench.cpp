// A firmware image written through the serial flash driver into the flash model behind the
// simulated SPI core, sleeps instant, traces off: 16 MiB of flash (an image of 16 MiB − 256 bytes:
// 65 535 pages and the finishing page, 64 sector erases).
//
//   BM_FlashImage                 the sequential write as the PCIe upgrade runs it
//   BM_FlashImage_ParamsOnChange  the same, with the device's parameters marked changed only when
//                                 SetLen changed the length, and unmarked once applied (what the
//                                 driver would cost if it did not re-apply them on every transfer)
//   BM_BareTransfers              the same transfers (count, word lengths, words written and read)
//                                 by two plain devices of fixed 8- and 32-bit parameters into a chip
//                                 that answers 0: the baseline
// Counters: "accesses" register accesses, "transfers" bus transfers, "control" control-register
// writes (parameters applied), all for the whole image.

#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "devio/reg_access.h"
#include "bmc/bus_controller.h"
#include "bmc/bus_sleep.h"
#include "bmc/spi_bus_controller_fpga_amba.h"
#include "bmc/spi_bus_params.h"
#include "bmc/spi_device.h"
#include "bmc/spi_device_serial_flash.h"
#include "sim/buscores/spi_core.h"
#include "sim/chips/spi_flash.h"

namespace {

constexpr uint32_t c_pages = (16u << 20) / 256; // the finishing page included
constexpr uint32_t c_sectors = 64;

// The flash model, optionally unmarking the device's parameters after every transfer.
class FlashChip : public sim::SpiChipModel {
public:
    explicit FlashChip(std::shared_ptr<sim::SpiFlashModel> flash) : m_flash(std::move(flash)) {}
    void OnSelect() override
    {
        ++selects;
        m_flash->OnSelect();
    }
    uint64_t OnShift(uint64_t mosi, const sim::SpiShiftFormat& format) override
    {
        return m_flash->OnShift(mosi, format);
    }
    void OnDeselect() override
    {
        m_flash->OnDeselect();
        // Under the controller's lock: the transfer that applied the parameters is over.
        if (params != nullptr) {
            params->m_changed = false;
        }
    }

    bmc::BusParams* params = nullptr;
    uint64_t selects = 0;

private:
    std::shared_ptr<sim::SpiFlashModel> m_flash;
};

class SinkChip : public sim::SpiChipModel {
public:
    void OnSelect() override { ++selects; }
    uint64_t OnShift(uint64_t, const sim::SpiShiftFormat&) override { return 0; }
    void OnDeselect() override {}
    uint64_t selects = 0;
};

class PlainDevice : public bmc::SpiDevice {
public:
    PlainDevice(bmc::BusController& controller, const std::string& name, bmc::BusDeviceId id, uint16_t bits)
        : SpiDevice(controller, name, id)
    {
        bmc::SetBusParam<bmc::SpiBusParams>(*this, false, bits, false, false, false, false, 10000);
    }
};

// The core's window in devio, counting the writes of the control register on the way.
class CountingWindow : public devio::RegisterModel {
public:
    explicit CountingWindow(std::shared_ptr<sim::SpiCoreModel> core) : m_core(std::move(core)) {}
    uint32_t OnRead32(size_t offset) override { return m_core->OnRead32(offset); }
    void OnWrite32(size_t offset, uint32_t value) override
    {
        controlWrites += offset == sim::SpiCoreModel::c_control;
        m_core->OnWrite32(offset, value);
    }
    uint64_t OnRead64(size_t offset) override { return m_core->OnRead64(offset); }
    void OnWrite64(size_t offset, uint64_t value) override
    {
        controlWrites += offset == sim::SpiCoreModel::c_control;
        m_core->OnWrite64(offset, value);
    }

    uint64_t controlWrites = 0; // one thread drives the bus here

private:
    std::shared_ptr<sim::SpiCoreModel> m_core;
};

// A core in a block of memory, claimed in devio through the counting window.
struct Core {
    Core()
        : model(std::make_shared<sim::SpiCoreModel>(false)), window(std::make_shared<CountingWindow>(model)),
          claim(&block, sim::SpiCoreModel::c_windowSize, window)
    {
        model->SetTracing(false);
    }

    bmc::tSpiBusController block{};
    std::shared_ptr<sim::SpiCoreModel> model;
    std::shared_ptr<CountingWindow> window;
    devio::RangeClaim claim;
};

void Report(benchmark::State& state, uint64_t accesses, uint64_t transfers, uint64_t control)
{
    const double runs = static_cast<double>(state.iterations());
    state.counters["accesses"] = static_cast<double>(accesses) / runs;
    state.counters["transfers"] = static_cast<double>(transfers) / runs;
    state.counters["control"] = static_cast<double>(control) / runs;
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * c_pages * 256);
}

void RunFlash(benchmark::State& state, bool paramsOnChange)
{
    bmc::ScopedBusSleep instant(&bmc::InstantBusSleep);
    Core core;
    auto model = sim::SpiFlashModel::Make(sim::SpiFlashModel::c_layoutB);
    model->SetRecording(false);
    model->SetOpcodeRecording(false);
    auto chip = std::make_shared<FlashChip>(model);
    core.model->Attach(0, chip);
    const bmc::BusControllerPtr bus = bmc::Create<bmc::SpiBusControllerFpgaAmba>("spi", 1, false, &core.block);
    const bmc::BusDevicePtr device = bmc::Create<bmc::SerialFlash>(bus, "SerialFlash", 0, false);
    auto* flash = static_cast<bmc::SerialFlash*>(device.get());
    if (paramsOnChange) {
        chip->params = device->GetParams().get();
    }
    std::vector<uint8_t> image((16u << 20) - 256);
    for (size_t i = 0; i < image.size(); ++i) {
        image[i] = static_cast<uint8_t>(i * 31 + (i >> 9));
    }
    uint64_t accesses = 0;
    uint64_t transfers = 0;
    uint64_t control = 0;
    for (auto _ : state) {
        const uint64_t accessesBefore = core.model->GetAccessCount();
        const uint64_t selectsBefore = chip->selects;
        const uint64_t controlBefore = core.window->controlWrites;
        flash->AutoincWriteInit();
        size_t at = 0;
        for (; at + 256 <= image.size(); at += 256) {
            if (!flash->AutoincWrite(image.data() + at)) {
                state.SkipWithError("page not written");
                return;
            }
        }
        if (!flash->AutoincWriteFinish(image.data() + at, static_cast<uint32_t>(image.size() - at))) {
            state.SkipWithError("last page not written");
            return;
        }
        accesses += core.model->GetAccessCount() - accessesBefore;
        transfers += chip->selects - selectsBefore;
        control += core.window->controlWrites - controlBefore;
    }
    Report(state, accesses, transfers, control);
}

void BM_FlashImage(benchmark::State& state)
{
    RunFlash(state, false);
}

void BM_FlashImage_ParamsOnChange(benchmark::State& state)
{
    RunFlash(state, true);
}

void BM_BareTransfers(benchmark::State& state)
{
    bmc::ScopedBusSleep instant(&bmc::InstantBusSleep);
    Core core;
    auto sink = std::make_shared<SinkChip>();
    core.model->Attach(0, sink);
    core.model->Attach(1, std::make_shared<SinkChip>());
    const bmc::BusControllerPtr bus = bmc::Create<bmc::SpiBusControllerFpgaAmba>("spi", 2, false, &core.block);
    const bmc::BusDevicePtr bytes = bmc::Create<PlainDevice>(bus, "bytes", 0, uint16_t{8});
    const bmc::BusDevicePtr words = bmc::Create<PlainDevice>(bus, "words", 1, uint16_t{32});
    uint64_t out[65] = {};
    uint64_t in[64] = {};
    uint64_t accesses = 0;
    uint64_t transfers = 0;
    uint64_t control = 0;
    for (auto _ : state) {
        const uint64_t before = core.model->GetAccessCount();
        const uint64_t controlBefore = core.window->controlWrites;
        for (uint32_t page = 0; page < c_pages; ++page) {
            if (page % (c_pages / c_sectors) == 0) {
                bytes->Transfer(0, out, 1, in, 1); // status
                bytes->Transfer(0, out, 1, nullptr, 0); // write enable
                bytes->Transfer(0, out, 4, nullptr, 0); // sector erase
                transfers += 3;
            }
            bytes->Transfer(0, out, 1, in, 1);
            bytes->Transfer(0, out, 1, nullptr, 0);
            words->Transfer(0, out, 65, nullptr, 0); // page program
            bytes->Transfer(0, out, 1, in, 1);
            words->Transfer(0, out, 1, in, 64); // read back
            transfers += 5;
        }
        accesses += core.model->GetAccessCount() - before;
        control += core.window->controlWrites - controlBefore;
    }
    Report(state, accesses, transfers, control);
}

BENCHMARK(BM_FlashImage)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_FlashImage_ParamsOnChange)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_BareTransfers)->Unit(benchmark::kMillisecond)->Iterations(2);

} // namespace

BENCHMARK_MAIN();

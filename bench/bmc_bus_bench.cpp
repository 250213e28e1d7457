// The bus layer's own cost per operation, against the simulated FPGA cores (their traces off):
// an I2C register read (bmc::I2cDevice::Get) and an SPI write of four 8-bit words.
//
//   BM_<op>           the operation through the bus layer, sleeps instant
//   BM_<op>_Trace4    the same with the trace file on at level 4
//   BM_<op>_Devio     the operation's register accesses replayed as bare devio accesses on the
//                     claimed window (the baseline: the same accesses without the bus layer)
//   BM_<op>_Emulator  the same accesses made straight on the core model: the time spent inside
//                     the emulator, which both of the above contain
//   BM_<op>_RealSleep the operation with the real waits (wall time)
// The counter "accesses" is the number of register accesses of one operation. The overhead of
// the bus layer is (BM_<op> − BM_<op>_Emulator) / BM_<op>_Devio.

#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "devio/reg_access.h"
#include "istd/trace.h"
#include "bmc/bus_controller.h"
#include "bmc/i2c_bus_controller_fpga_amba.h"
#include "bmc/i2c_device.h"
#include "bmc/spi_bus_controller_fpga_amba.h"
#include "bmc/spi_device.h"
#include "sim/buscores/i2c_core.h"
#include "sim/buscores/register_chips.h"
#include "sim/buscores/spi_core.h"
#include "tests/support/temp_dir.h"

namespace {

class EepromDriver : public bmc::I2cDevice {
public:
    EepromDriver(bmc::BusController& controller, const std::string& name, bmc::BusDeviceId id)
        : I2cDevice(controller, name, id)
    {
        bmc::SetBusParam<bmc::I2cBusParams>(*this, 0x50, 1, 100);
    }
};

// Serial-flash settings: 8-bit words at 10 MHz, no polling.
class FlashDriver : public bmc::SpiDevice {
public:
    FlashDriver(bmc::BusController& controller, const std::string& name, bmc::BusDeviceId id)
        : SpiDevice(controller, name, id)
    {
        bmc::SetBusParam<bmc::SpiBusParams>(*this, false, 8, false, false, false, false, 10000);
    }
};

// Takes every word and answers 0, keeping nothing: the emulator's share stays small and flat.
class SinkChip : public sim::SpiChipModel {
public:
    void OnSelect() override {}
    uint64_t OnShift(uint64_t, const sim::SpiShiftFormat&) override { return 0; }
    void OnDeselect() override {}
};

struct I2cSetup {
    using Model = sim::I2cCoreModel;
    I2cSetup()
        : core(std::make_shared<Model>()), claim(core->Claim(&block)),
          bus(bmc::Create<bmc::I2cBusControllerFpgaAmba>("i2c", 4, &block)),
          device(std::static_pointer_cast<bmc::I2cDevice>(bmc::Create<EepromDriver>(bus, "eeprom", 0)))
    {
        core->Attach(1, 0x50, std::make_shared<sim::I2cRegisterChip>());
    }
    void Operation() { benchmark::DoNotOptimize(device->Get(0x10)); }
    volatile uint8_t* Window() { return reinterpret_cast<volatile uint8_t*>(&block); }

    bmc::tI2cBusController block{};
    std::shared_ptr<Model> core;
    devio::RangeClaim claim;
    bmc::BusControllerPtr bus;
    std::shared_ptr<bmc::I2cDevice> device;
};

struct SpiSetup {
    using Model = sim::SpiCoreModel;
    SpiSetup()
        : core(std::make_shared<Model>(false)), claim(core->Claim(&block)),
          bus(bmc::Create<bmc::SpiBusControllerFpgaAmba>("spi", 4, false, &block)),
          device(bmc::Create<FlashDriver>(bus, "flash", 0))
    {
        core->Attach(0, std::make_shared<SinkChip>());
    }
    void Operation() { device->Write(0, c_words, 4); }
    volatile uint8_t* Window() { return reinterpret_cast<volatile uint8_t*>(&block); }

    static constexpr uint64_t c_words[4] = {0x02, 0x11, 0x22, 0x33};
    bmc::tSpiBusController block{};
    std::shared_ptr<Model> core;
    devio::RangeClaim claim;
    bmc::BusControllerPtr bus;
    bmc::BusDevicePtr device;
};

// The register accesses of one operation once the device's parameters are in place; the model's
// traces are off afterwards.
template <class Setup>
std::vector<sim::RegisterAccess> Recorded(Setup& setup)
{
    bmc::ScopedBusSleep instant(&bmc::InstantBusSleep);
    setup.Operation();
    setup.core->ClearTraces();
    setup.Operation();
    std::vector<sim::RegisterAccess> accesses = setup.core->GetRegisterAccesses();
    setup.core->SetTracing(false);
    setup.core->ClearTraces();
    return accesses;
}

// The I2C core's registers are 32 bits wide, the SPI core's 64.
void Replay(sim::I2cCoreModel& core, volatile uint8_t*, const sim::RegisterAccess& a, std::false_type)
{
    if (a.write) {
        core.OnWrite32(a.offset, static_cast<uint32_t>(a.value));
    } else {
        benchmark::DoNotOptimize(core.OnRead32(a.offset));
    }
}
void Replay(sim::I2cCoreModel&, volatile uint8_t* window, const sim::RegisterAccess& a, std::true_type)
{
    auto* word = reinterpret_cast<volatile uint32_t*>(window + a.offset);
    if (a.write) {
        devio::Write32(word, static_cast<uint32_t>(a.value));
    } else {
        benchmark::DoNotOptimize(devio::Read32(word));
    }
}
void Replay(sim::SpiCoreModel& core, volatile uint8_t*, const sim::RegisterAccess& a, std::false_type)
{
    if (a.write) {
        core.OnWrite64(a.offset, a.value);
    } else {
        benchmark::DoNotOptimize(core.OnRead64(a.offset));
    }
}
void Replay(sim::SpiCoreModel&, volatile uint8_t* window, const sim::RegisterAccess& a, std::true_type)
{
    auto* word = reinterpret_cast<volatile uint64_t*>(window + a.offset);
    if (a.write) {
        devio::Write64(word, a.value);
    } else {
        benchmark::DoNotOptimize(devio::Read64(word));
    }
}

void SetAccesses(benchmark::State& state, size_t accesses)
{
    state.counters["accesses"] = static_cast<double>(accesses);
    state.SetItemsProcessed(state.iterations());
}

template <class Setup>
void BM_Operation(benchmark::State& state)
{
    Setup setup;
    const size_t accesses = Recorded(setup).size();
    bmc::ScopedBusSleep instant(&bmc::InstantBusSleep);
    for (auto _ : state) {
        setup.Operation();
    }
    SetAccesses(state, accesses);
}

template <class Setup>
void BM_Operation_Trace4(benchmark::State& state)
{
    testsupport::TempDir dir("kavrel-bus-bench");
    Setup setup;
    const size_t accesses = Recorded(setup).size();
    bmc::ScopedBusSleep instant(&bmc::InstantBusSleep);
    istd::TraceFile::Init("trace.log", dir.Path());
    istd::TraceFile::GetInstance().Start(istd::eTraceDetail);
    for (auto _ : state) {
        setup.Operation();
    }
    istd::TraceFile::GetInstance().Stop();
    SetAccesses(state, accesses);
}

template <class Setup, bool throughDevio>
void BM_Replay(benchmark::State& state)
{
    Setup setup;
    const std::vector<sim::RegisterAccess> accesses = Recorded(setup);
    for (auto _ : state) {
        for (const sim::RegisterAccess& a : accesses) {
            Replay(*setup.core, setup.Window(), a, std::integral_constant<bool, throughDevio>());
        }
    }
    SetAccesses(state, accesses.size());
}

template <class Setup>
void BM_Operation_RealSleep(benchmark::State& state)
{
    Setup setup;
    const size_t accesses = Recorded(setup).size();
    for (auto _ : state) {
        setup.Operation();
    }
    SetAccesses(state, accesses);
}

BENCHMARK_TEMPLATE(BM_Operation, I2cSetup)->Name("BM_I2cGet");
BENCHMARK_TEMPLATE(BM_Operation_Trace4, I2cSetup)->Name("BM_I2cGet_Trace4");
BENCHMARK_TEMPLATE(BM_Replay, I2cSetup, true)->Name("BM_I2cGet_Devio");
BENCHMARK_TEMPLATE(BM_Replay, I2cSetup, false)->Name("BM_I2cGet_Emulator");
BENCHMARK_TEMPLATE(BM_Operation_RealSleep, I2cSetup)->Name("BM_I2cGet_RealSleep")->UseRealTime()->Iterations(200);
BENCHMARK_TEMPLATE(BM_Operation, SpiSetup)->Name("BM_SpiWrite4");
BENCHMARK_TEMPLATE(BM_Operation_Trace4, SpiSetup)->Name("BM_SpiWrite4_Trace4");
BENCHMARK_TEMPLATE(BM_Replay, SpiSetup, true)->Name("BM_SpiWrite4_Devio");
BENCHMARK_TEMPLATE(BM_Replay, SpiSetup, false)->Name("BM_SpiWrite4_Emulator");
BENCHMARK_TEMPLATE(BM_Operation_RealSleep, SpiSetup)->Name("BM_SpiWrite4_RealSleep")->UseRealTime()->Iterations(2000);

} // namespace

BENCHMARK_MAIN();

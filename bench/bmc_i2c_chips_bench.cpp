// The I2C chip drivers' operations against their chip models on the simulated I2C core (traces
// off), each as a multiple of one bare register read through the same core:
//
//   BM_I2cGet                      one register read (bmc::I2cDevice::Get): the baseline
//   BM_Si5338Construct             the clock generator's constructor (351 reads, the default set)
//   BM_Si57xEnable                 the oscillator's enable (recall, read, search, frozen write)
//   BM_SpdRead                     the SPD image read and checked (256 reads)
// each with the waits made instant (the software's share) and with _RealSleep (wall time).
//
// Counters: "accesses", the core's register accesses per operation; "prescaler_writes", how often
// one operation programs the bus parameters again (0 unless something re-applies them on every
// transfer).

#include <benchmark/benchmark.h>

#include <functional>
#include <memory>
#include <string>

#include "devio/reg_access.h"
#include "bmc/bus_controller.h"
#include "bmc/i2c_bus_controller_fpga_amba.h"
#include "bmc/i2c_device.h"
#include "bmc/i2c_device_SI5338.h"
#include "bmc/i2c_device_SI57x.h"
#include "bmc/i2c_device_spd_eeprom.h"
#include "sim/buscores/i2c_core.h"
#include "sim/chips/si5338.h"
#include "sim/chips/si57x.h"
#include "sim/chips/spd_eeprom.h"

namespace {

constexpr uint8_t c_bus = 1;

class PlainDevice : public bmc::I2cDevice {
public:
    PlainDevice(bmc::BusController& controller, const std::string& name, bmc::BusDeviceId id, uint8_t address,
                uint8_t bus)
        : I2cDevice(controller, name, id)
    {
        bmc::SetBusParam<bmc::I2cBusParams>(*this, address, bus, 100);
    }
};

// The core with all three chip models, and the drivers made on demand.
struct Setup {
    Setup()
        : core(std::make_shared<sim::I2cCoreModel>()), claim(core->Claim(&block)),
          bus(bmc::Create<bmc::I2cBusControllerFpgaAmba>("i2c", 8, &block))
    {
        core->Attach(c_bus, sim::Si5338Model::c_address, gen);
        core->Attach(c_bus, sim::Si57xModel::c_address, osc);
        core->Attach(c_bus, sim::SpdEepromModel::c_address, spd);
        bmc::ScopedBusSleep instant(&bmc::InstantBusSleep);
        plain = std::static_pointer_cast<bmc::I2cDevice>(
            bmc::Create<PlainDevice>(bus, "plain", 0, sim::SpdEepromModel::c_address, c_bus));
        si57x = std::static_pointer_cast<bmc::Si57x>(bmc::Create<bmc::Si57x>(bus, "osc", 1, 0, c_bus));
        spdDriver = std::static_pointer_cast<bmc::SpdEeprom>(bmc::Create<bmc::SpdEeprom>(bus, "spd", 2, 0, c_bus));
        si57x->SetVcxoFreq(156250000);
    }

    // One operation with the core's traces on: its register accesses and prescaler writes.
    void Measure(const std::function<void()>& operation, benchmark::State& state)
    {
        {
            bmc::ScopedBusSleep instant(&bmc::InstantBusSleep);
            operation(); // the device's parameters in place, as in steady use
            core->SetTracing(true);
            core->ClearTraces();
            operation();
        }
        size_t prescaler = 0;
        const auto accesses = core->GetRegisterAccesses();
        for (const sim::RegisterAccess& a : accesses) {
            prescaler += a.write && a.offset == sim::I2cCoreModel::c_prescaler;
        }
        core->SetTracing(false);
        core->ClearTraces();
        state.counters["accesses"] = static_cast<double>(accesses.size());
        state.counters["prescaler_writes"] = static_cast<double>(prescaler);
    }

    bmc::tI2cBusController block{};
    sim::I2cCoreModelPtr core;
    devio::RangeClaim claim;
    bmc::BusControllerPtr bus;
    std::shared_ptr<sim::Si5338Model> gen = std::make_shared<sim::Si5338Model>();
    std::shared_ptr<sim::Si57xModel> osc = std::make_shared<sim::Si57xModel>();
    std::shared_ptr<sim::SpdEepromModel> spd = std::make_shared<sim::SpdEepromModel>();
    std::shared_ptr<bmc::I2cDevice> plain;
    std::shared_ptr<bmc::Si57x> si57x;
    std::shared_ptr<bmc::SpdEeprom> spdDriver;
};

// The operations, by index.
std::function<void()> Operation(Setup& s, int op)
{
    switch (op) {
    case 0:
        return [&s] { benchmark::DoNotOptimize(s.plain->Get(0x10)); };
    case 1:
        return [&s] { bmc::Si5338 gen(*s.bus, "gen", 3, 0, c_bus); };
    case 2:
        return [&s] { s.si57x->SetDeviceState(bmc::eBusDeviceEnabled); };
    default:
        return [&s] {
            bmc::tSpdEepromRegMap map;
            benchmark::DoNotOptimize(s.spdDriver->SpdEepromReadDdrMemoryMap(map));
        };
    }
}

void BM_Instant(benchmark::State& state, int op)
{
    Setup setup;
    const std::function<void()> operation = Operation(setup, op);
    setup.core->SetTracing(false);
    bmc::ScopedBusSleep instant(&bmc::InstantBusSleep);
    for (auto _ : state) {
        operation();
    }
    setup.Measure(operation, state);
}

void BM_RealSleep(benchmark::State& state, int op)
{
    Setup setup;
    const std::function<void()> operation = Operation(setup, op);
    setup.core->SetTracing(false);
    for (auto _ : state) {
        operation();
    }
    setup.Measure(operation, state);
}

BENCHMARK_CAPTURE(BM_Instant, I2cGet, 0)->Name("BM_I2cGet");
BENCHMARK_CAPTURE(BM_RealSleep, I2cGet, 0)->Name("BM_I2cGet_RealSleep")->UseRealTime()->Iterations(200);
BENCHMARK_CAPTURE(BM_Instant, Si5338Construct, 1)->Name("BM_Si5338Construct");
BENCHMARK_CAPTURE(BM_RealSleep, Si5338Construct, 1)
    ->Name("BM_Si5338Construct_RealSleep")
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2);
BENCHMARK_CAPTURE(BM_Instant, Si57xEnable, 2)->Name("BM_Si57xEnable");
BENCHMARK_CAPTURE(BM_RealSleep, Si57xEnable, 2)
    ->Name("BM_Si57xEnable_RealSleep")
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(10);
BENCHMARK_CAPTURE(BM_Instant, SpdRead, 3)->Name("BM_SpdRead");
BENCHMARK_CAPTURE(BM_RealSleep, SpdRead, 3)
    ->Name("BM_SpdRead_RealSleep")
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

} // namespace

BENCHMARK_MAIN();

#include "sim/chips/board_spi_sites.h"

#include <utility>

namespace sim {

PcieFlashSite AttachPcieFlash(MonitorDevice& device, SpiFlashModelPtr flash)
{
    PcieFlashSite site{std::make_shared<SpiCoreModel>(false), std::move(flash)};
    if (site.flash) {
        site.core->Attach(0, site.flash);
    }
    device.AttachModel(c_pcieFlashCore, SpiCoreModel::c_windowSize, site.core);
    return site;
}

ZekSensorSite AttachZekSensors(MonitorDevice& device)
{
    ZekSensorSite site;
    site.temperatureCore = std::make_shared<SpiCoreModel>(false);
    site.adcCore = std::make_shared<SpiCoreModel>(false);
    for (unsigned line = 0; line < site.adt7301.size(); ++line) {
        site.adt7301[line] = std::make_shared<Adt7301Model>();
        site.temperatureCore->Attach(line, site.adt7301[line]);
    }
    site.ad7787 = std::make_shared<Ad7787Model>(2.5);
    // The core's outputs are read without its lock, so this may run inside a shift.
    std::weak_ptr<SpiCoreModel> core = site.adcCore;
    site.ad7787->SetInputSelector([core] {
        const SpiCoreModelPtr locked = core.lock();
        return locked ? static_cast<unsigned>(locked->GetOutput()) : 0u;
    });
    site.adcCore->Attach(0, site.ad7787);
    device.AttachModel(c_zekTemperatureCore, SpiCoreModel::c_windowSize, site.temperatureCore);
    device.AttachModel(c_zekAdcCore, SpiCoreModel::c_windowSize, site.adcCore);
    return site;
}

} // namespace sim

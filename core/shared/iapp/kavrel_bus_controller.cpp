#include "iapp/kavrel_bus_controller.h"

#include <utility>

#include "iapp/kavrel_board.h"
#include "ireg/reg_fnc_node.h"
#include "istd/exception.h"
#include "istd/trace.h"
#include "mci/factory.h"
#include "mci/tree_node.h"

namespace iapp {

namespace {

// Readable array, not writable.
constexpr mci::Flags c_devicesFlags = 0x202;

const bmc::BusControllerPtr& _Checked(const bmc::BusControllerPtr& controller, const std::string& name)
{
    if (!controller) {
        throw istd::Exception("iapp: " + name + ": no bus controller", true);
    }
    return controller;
}

} // namespace

KavrelBusController::KavrelBusController(KavrelBoard& board, const std::string& name,
                                         bmc::BusControllerPtr controller)
    : KavrelFpgaObject(board, name), m_controller(_Checked(controller, name))
{
    ISTD_TRACE_FNC("iapp::KavrelBusController::KavrelBusController(iapp::KavrelBoard&, const std::string&, "
                   "bmc::BusControllerPtr)");
    m_controller->SetOnAddDevice([this](bmc::BusDevice& device) { OnAddDevice(device); });
}

KavrelBusController::~KavrelBusController()
{
    ISTD_TRACE(4, "Destroying " << GetName() << " KavrelBusController");
    m_controller->SetOnAddDevice(nullptr);
}

void KavrelBusController::OnRegistryAdd(mci::TreeNodePtr& node)
{
    ISTD_TRACE_FNC("void iapp::KavrelBusController::OnRegistryAdd(mci::TreeNodePtr&)");
    m_devices = node->Add(mci::factory::Create<ireg::RegFncNode<std::string>>(
        "devices", m_controller->GetDeviceCount(), static_cast<const KavrelBusController*>(this), 0,
        &KavrelBusController::GetDevices, c_devicesFlags));
}

void KavrelBusController::OnAddDevice(const bmc::BusDevice&)
{
    if (m_devices) {
        m_devices->Resize(m_controller->GetDeviceCount());
    }
}

size_t KavrelBusController::GetDevices(std::string* out, size_t pos, size_t count) const
{
    return m_controller->ForEachDevice(
        [this](bmc::BusDevice& device, uint32_t index, void* user) { OnEachDevice(device, index, user); }, pos, count,
        out);
}

void KavrelBusController::OnEachDevice(bmc::BusDevice& device, uint32_t index, void* user) const
{
    static_cast<std::string*>(user)[index] = device.GetName();
}

} // namespace iapp

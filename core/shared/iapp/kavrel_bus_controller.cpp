#include "iapp/kavrel_bus_controller.h"

#include <atomic>
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

// "devices": its size is an atomic word of its own, set by the controller's callback without the
// node lock (see the header).
class KavrelBusController::DevicesNode : public ireg::RegFncNode<std::string> {
public:
    DevicesNode(size_t size, const KavrelBusController* owner)
        : ireg::RegFncNode<std::string>("devices", size, owner, 0, &KavrelBusController::GetDevices, c_devicesFlags),
          m_size(size)
    {
    }

    size_t OnGetSize(const mci::Path&) const override { return m_size.load(std::memory_order_relaxed); }
    bool OnResize(size_t size, const mci::Path&) override
    {
        SetSize(size);
        return true;
    }
    void SetSize(size_t size) { m_size.store(size, std::memory_order_relaxed); }

private:
    std::atomic<size_t> m_size;
};

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
    auto devices = std::static_pointer_cast<DevicesNode>(
        mci::factory::Create<DevicesNode>(m_controller->GetDeviceCount(), static_cast<const KavrelBusController*>(this)));
    node->Add(devices);
    m_devices = std::move(devices);
}

void KavrelBusController::OnAddDevice(const bmc::BusDevice&)
{
    if (m_devices) {
        m_devices->SetSize(m_controller->GetDeviceCount());
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

#include "iapp/kavrel_signal_repository.h"

#include "iapp/kavrel_application.h"
#include "ireg/reg_node.h"
#include "ireg/reg_value_node.h"
#include "isig/signal_repository.h"
#include "istd/trace.h"
#include "mci/factory.h"
#include "mci/node.h"

namespace iapp {

KavrelSignalRepository::KavrelSignalRepository(KavrelObject& parent, const std::string& name)
    : KavrelFeature(parent, name)
{
}

KavrelSignalRepository::~KavrelSignalRepository() = default;

void KavrelSignalRepository::OnStartRunning()
{
    ISTD_TRACE_FNC("virtual void iapp::KavrelSignalRepository::OnStartRunning()");
    mci::TreeNodePtr where;
    if (const KavrelObjectPtr parent = GetParent(); !parent) {
        ISTD_TRACE(1, "Warning: : KavrelSignalRepository does not have parent object. Signal repository is exposed "
                      "under registry root node.");
    } else if (!(where = parent->GetRegistryNode())) {
        ISTD_TRACE(1, "Warning: Parent object of KavrelSignalRepository module does not have registry interface. "
                      "Signal repository is exposed under registry root node.");
    }
    if (!where) {
        const KavrelApplication* application = KavrelApplication::Instance();
        where = application == nullptr ? mci::TreeNodePtr() : application->GetRegistry().GetTreeNode();
        if (!where) {
            ISTD_TRACE(1, "Warning: there is no registry; the signal repository is not exposed.");
            return;
        }
    }
    // An empty node (the factory's failure) is refused by Add.
    mci::TreeNodePtr signals = mci::factory::Create<ireg::RegNode>(GetName(), mci::Flags(mci::enums::eHidden));
    where->Add(signals);
    for (const isig::SignalRepository::Entry& entry : isig::SignalRepository::Instance().GetEntries()) {
        mci::TreeNodePtr signal = mci::factory::Create<ireg::RegNode>("signal_" + std::to_string(entry.id));
        signals->Add(signal);
        signal->Add(mci::factory::Create<ireg::RegValueNode<std::string>>("name", entry.name));
        signal->Add(mci::factory::Create<ireg::RegValueNode<std::string>>("owner", entry.owner));
    }
}

} // namespace iapp

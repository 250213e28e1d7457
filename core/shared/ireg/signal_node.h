#ifndef IREG_SIGNAL_NODE_H
#define IREG_SIGNAL_NODE_H

// The registry node of a signal (a source of fixed-size atoms of the signal library). It holds no
// value; when the factory makes it, it describes the signal in six read-only, constant children,
// copies taken then:
//
//   mci::c_accessType  enumeration of isig::AccessType_e  the source's AccessType()
//   mci::c_atomSize    unsigned int                       AtomSize(): bytes in one atom
//   mci::c_groupSize   unsigned int                       GroupSize()
//   mci::c_compNames   string array                       GetComponentNames(), in order
//   mci::c_compNum     unsigned int                       Length(): components in one atom
//   mci::c_compType    enumeration of isig::AtomType_e    BaseEnumType(): type of one component
//
// Remote clients read the signal itself through the remote-signal servant that the node makes
// on the first GetRemoteSignalRef and activates in the process's ORB.
//
//     auto node = mci::factory::Create<ireg::SignalNode>("events", &stream);   // flags 0x402
//     parent->Add(node);
//
// The source is not owned and must outlive the node. The node's destructor shuts the servant
// down and withdraws it from the ORB, so destroy the registry before the ORB (ORBDestroy), and
// the source after the registry.

#include <functional>
#include <mutex>
#include <string>

#include "inet/i_net.hh"
#include "ireg/ireg_export.h"
#include "ireg/reg_node.h"
#include "isig/i_remote_signal_impl.h"
#include "isig/signal_source.h"

namespace ireg {

class IREG_API SignalNode : public RegNode {
public:
    // Readable (2) and the signal bit (0x400), ORed into the flags given.
    static constexpr mci::Flags c_signalFlags = mci::enums::eReadable | mci::enums::eSignal;
    // Flags of the description children: readable and constant.
    static constexpr int c_childFlags = mci::enums::eReadable | mci::enums::eConstant;

    // Keeps the source; does not call it.
    SignalNode(const std::string& name, isig::SignalSource* source, mci::Flags flags = mci::enums::eReadable);
    // Shuts the servant down and withdraws it from the ORB, each step whatever became of the
    // other; failures are traced at level 1, never thrown.
    ~SignalNode() override;

    // Makes the six children. False, with the logged warning "Failed to add child nodes for
    // signal node: " + name, when the source or the factory throws istd::Exception; children
    // made before stay attached.
    bool Init() override;

    // A new reference to the node's remote-signal servant, which the first call makes and
    // activates (concurrent first calls make one). The caller releases it. A failure to make or
    // activate the servant passes to the caller, and the next call tries again.
    i_NET::RemoteSignal_ptr GetRemoteSignalRef();

    isig::SignalSource* GetSource() const { return m_source; }

private:
    isig::SignalSource* const m_source;
    // Made by the first GetRemoteSignalRef; the node holds a reference of its own on it, so that
    // the destructor can reach it even after the ORB released it.
    isig::i_RemoteSignal_impl* m_servant = nullptr;
    std::mutex m_servantMutex; // m_servant
};

namespace detail {

// What SignalNode's destructor does with its servant: shutDown(), then Deactivate with the ORB
// manager whatever shutDown() did. Every failure is traced at level 1 as "Signal node " + name +
// ": deactivate error: " + text (or ": unknown deactivate error."), never thrown.
IREG_API void StopRemoteSignal(const std::string& nodeName, PortableServer::ServantBase* servant,
                      const std::function<void()>& shutDown);

} // namespace detail

} // namespace ireg

#endif

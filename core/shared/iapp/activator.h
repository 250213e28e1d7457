#ifndef IAPP_ACTIVATOR_H
#define IAPP_ACTIVATOR_H

// The activation switch of a register set in the FPGA (typically one bit of a control word),
// driven by the tables it is registered with (iapp::MultiPortTable): a write of one entry
// switches the set off, a block write switches it on. While the application holds the
// activator locked, block writes only record that an activation is due, and Release applies it
// once:
//
//     iapp::ActivatorBit<uint32_t> active("ports", control, 5, true, "active");
//     new iapp::MultiPortTable<uint32_t>(board, base, "ports", names, values, &active, 8, 0, 4, 0x4E);
//     active.Lock();
//     table->SetMultiple(values, 0, n);   // the set stays off
//     active.Release();                   // now it is switched on, once
//
// Its state is one bool registry node (made by the table's OnRegistryAdd) through which
// clients switch the set; writes through the node, Apply and table changes all go through
// _SetActive, which refuses "Activation is prevented in locked state".
//
// Locking. Once the node exists, the activator's state is guarded by the node's own lock
// (before that, by a mutex of the activator's). A client write of the node and a table change
// therefore take one lock, in the same place of their lock orders (table node, table master,
// activator node), and cannot deadlock against each other. Registry nodes are made on the
// start-up thread, before requests arrive; AddRegistry must not race with table writes.
//
// The activator must outlive the tables it is registered with.

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "iapp/iapp_export.h"
#include "iapp/master_slave.h"
#include "mci/types.h"

namespace iapp {

class IAPP_API Activator : public Slave {
public:
    Activator(const std::string& name, const std::string& nodeName);
    ~Activator() override;

    Activator(const Activator&) = delete;
    Activator& operator=(const Activator&) = delete;

    const std::string& GetName() const { return m_name; }
    const std::string& GetNodeName() const { return m_nodeName; }
    // The node made by the last AddRegistry; empty before.
    mci::TreeNodePtr GetNode() const;
    bool IsLocked() const;

    // Makes the bool node (flags 6) under parent and keeps it.
    void AddRegistry(mci::TreeNodePtr& parent);

    // Block writes from now on only record the activation (locks do not count: one Release
    // ends any number of them).
    void Lock();
    // Leaves the locked state and applies an activation recorded meanwhile, once.
    void Release();
    // Switches the set: through the node when it exists (its checks, _SetActive and its
    // subscribers' notification), else through _SetActive directly.
    void Apply(bool active);

    // The node's setter: while locked, true is refused with istd::Exception "Activation is
    // prevented in locked state" and nothing changes. True.
    bool _SetActive(const bool& active);
    // The node's getter: Get(). True.
    bool _GetActive(bool& active) const;

    void OnMasterChange(const Master& master, Importance_e importance) override;

    // The hardware: switch the set, and read its state.
    virtual void Set(bool on) = 0;
    virtual bool Get() const = 0;

protected:
    // The value _SetActive accepted last.
    bool _IsActive() const { return m_active.load(); }

private:
    // Holds the activator's lock: the node's, or the own mutex while there is no node. The
    // node is kept alive while its lock is held.
    struct Guard {
        mci::TreeNodePtr node;
        std::unique_lock<std::recursive_mutex> lock;
    };
    Guard _Lock() const;

    const std::string m_name;
    const std::string m_nodeName;
    bool m_changed = false;
    bool m_locked = false;
    mutable std::recursive_mutex m_mutex;
    bool m_cachedActivation = false;
    // Read by Get() without a lock (a client's read of the node).
    std::atomic<bool> m_active{false};
    mci::TreeNodePtr m_node;
};

// An activator on one bit of a 32- or 64-bit FPGA word (T is uint32_t or uint64_t).
template <class T>
class IAPP_API ActivatorBit : public Activator {
public:
    // The bit must lie in the word (0-31, 0-63), else istd::Exception "UpdateBit: Invalid
    // argument". The word is not touched. With readBack, Get reads the bit from the word;
    // without, it answers the value accepted last.
    ActivatorBit(const std::string& name, volatile T& reg, unsigned bit, bool readBack, const std::string& nodeName);
    ~ActivatorBit() override;

    // One read and one write of the word, only the bit changed.
    void Set(bool on) override;
    bool Get() const override;

    // The word, and the bit's mask in it.
    volatile T& GetBitReference(T& mask) const;
    volatile T& GetAddress() const { return m_register; }

private:
    volatile T& m_register;
    const uint32_t m_bit;
    const bool m_readBack;
};

} // namespace iapp

#endif

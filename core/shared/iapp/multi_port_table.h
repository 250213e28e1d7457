#ifndef IAPP_MULTI_PORT_TABLE_H
#define IAPP_MULTI_PORT_TABLE_H

// A table of named small integers that the FPGA holds in evenly spaced words, with an optional
// activator (iapp::Activator) that the table switches off on every single-entry write and on
// after every block write. T is int32_t, uint32_t, int64_t or uint64_t; the words are T's size,
// entry i at byte base + i * (sizeof(T) + gap), its value in the low `width` bits.
//
//     auto* ports = new iapp::MultiPortTable<uint32_t>(board, board.MapRegisters(0x420000, 0x40),
//                                                      "ports", {"a", "b"}, {0, 0}, &active,
//                                                      8, 0, 4, 0x4E);   // board owns it
//
// Registry (table node N, activator node A):
//   N/A        bool, flags 6                 the activator's _GetActive/_SetActive
//   N/data     T[n], flags | 0x200           GetMultiple/_SetMultiple, validator [0, mask]
//   N/data/Ei  T, flags without 0x8          the entry's _Get/_Set, validator [0, mask]
//
// Set (one entry) checks the value against the width (signed tables: the two's complement
// range), writes it masked and reports eImportanceEntry; _SetMultiple (a run) writes the values
// as they are and reports eImportanceBlock. The node validators take [0, mask] for every T, so
// through the nodes a signed table takes only its non-negative values.
//
// Notifications. An entry write notifies "data" with the whole table, a run written through
// "data" notifies each written entry; the registry notifies the written node itself. The
// table hands those of the other node to the dispatcher without taking that node's lock (its
// subscribers are kept under a small lock of their own), so an entry write and a "data" write
// running at once never wait for each other's node. Every notification of a table node carries
// the value its words hold when it is handed over, so the last one a subscriber receives matches
// the memory.
//
// The table has no lock of its own: writes arrive under the lock of the node they come through
// or from the application's thread.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "iapp/iapp_export.h"
#include "iapp/kavrel_board.h"
#include "iapp/kavrel_fpga_object.h"
#include "iapp/master_slave.h"
#include "mci/types.h"

namespace iapp {

class Activator;
template <class T>
class MultiPortTable;

template <class T>
class IAPP_API MultiPortTableEntry {
public:
    MultiPortTableEntry(MultiPortTable<T>& table, const std::string& name, volatile T* word);
    ~MultiPortTableEntry();

    MultiPortTableEntry(const MultiPortTableEntry&) = delete;
    MultiPortTableEntry& operator=(const MultiPortTableEntry&) = delete;

    const std::string& GetName() const { return m_name; }
    volatile T* GetWord() const { return m_word; }
    const mci::TreeNodePtr& GetNode() const { return m_node; }

    // The table's Get and Set on the entry's word: the node's getter and setter.
    bool _Get(T& value) const;
    bool _Set(const T& value);
    // Makes the entry's node under parent with the flags and the table's validator.
    void AddReg(mci::TreeNodePtr parent, uint64_t flags);

private:
    MultiPortTable<T>* const m_table;
    const std::string m_name;
    volatile T* const m_word;
    mci::TreeNodePtr m_node;
};

template <class T>
class IAPP_API MultiPortTable : public KavrelFpgaObject, public Master {
public:
    // Refuses (istd::Exception) offset + width beyond the word or width 0 ("Internal error:
    // Invalid width argument."), names and values of different counts ("Internal error: list of
    // names and init values must be synchronized."), a null base ("Internal error: Invalid base
    // address.") and a gap that would misalign the words ("Internal error: Invalid gap
    // argument."). Writes the initial values unchanged, entry by entry, and registers the
    // activator (may be null; not owned).
    MultiPortTable(KavrelObject& parent, volatile FPGAMem_t* base, const std::string& name,
                   const std::vector<std::string>& names, const std::vector<T>& initValues, Activator* activator,
                   uint32_t width, uint32_t offset, uint32_t gap, mci::Flags flags);
    ~MultiPortTable() override;

    // One entry: the value must fit the width, else istd::Exception "The specified value
    // <value>is out of range" and nothing is written or reported.
    bool Set(volatile T& word, const T& value);
    // Unsigned: the low width bits. Signed: sign-extended when the width's top bit is set, else
    // the whole word. True.
    bool Get(volatile T& word, T& value) const;
    // Entries position .. position + count - 1, masked (not sign-extended); 0 when the run does
    // not fit the table.
    size_t GetMultiple(T* values, size_t position, size_t count) const;
    // A run written unchanged (no range check, no mask) and reported as a block, also for
    // count 0; false, with nothing written or reported, when it does not fit the table. The data
    // node's setter.
    bool _SetMultiple(const T* values, size_t position, size_t count);
    // _SetMultiple, then the data node's notification. For the program.
    bool SetMultiple(const T* values, size_t position, size_t count);

    // Bytes of the entries' words without the gaps.
    size_t Size() const { return m_entries.size() * sizeof(T); }
    size_t GetCount() const { return m_entries.size(); }
    uint32_t GetWidth() const { return m_width; }
    // 2^width - 1.
    uint64_t GetMask() const { return m_mask; }
    Activator* GetActivator() const { return m_activator; }
    const mci::TreeNodePtr& GetDataNode() const { return m_dataNode; }
    MultiPortTableEntry<T>& GetEntry(size_t index) const { return *m_entries.at(index); }

    void OnRegistryAdd(mci::TreeNodePtr& node) override;

private:
    // The notifications of the other nodes (see the header note).
    void _AnnounceData();
    void _AnnounceEntry(const MultiPortTableEntry<T>& entry);

    volatile FPGAMem_t* const m_base;
    Activator* const m_activator;
    const uint32_t m_width;
    const uint32_t m_offset;
    const uint64_t m_mask;
    const uint32_t m_gap;
    const mci::Flags m_flags;
    std::vector<std::unique_ptr<MultiPortTableEntry<T>>> m_entries;
    mci::TreeNodePtr m_dataNode;
};

} // namespace iapp

#endif

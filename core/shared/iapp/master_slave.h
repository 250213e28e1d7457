#ifndef IAPP_MASTER_SLAVE_H
#define IAPP_MASTER_SLAVE_H

// An observer pair that ties a register table (the master) to the switches that depend on it
// (its slaves, such as an activation bit): every write to the table tells the slaves how
// far-reaching it was.
//
//     class Table : public iapp::Master { ... UpdateSlaves(iapp::eImportanceEntry); ... };
//     table.Register(&activator);   // activator is an iapp::Slave; not owned, never removed
//
// A master does not own its slaves and has no way to unregister one: a slave must outlive
// every master it is registered with.

#include <mutex>
#include <set>

#include "iapp/iapp_export.h"

namespace iapp {

class Master;

// How far a change of the master reached. A slave takes eImportanceBlock as "switch on" and
// every other value as "switch off".
enum Importance_e {
    eImportanceEntry = 0, // one entry was written: the table is being changed piecemeal
    eImportanceBlock = 3, // a run of entries was written as a block
};

class IAPP_API Slave {
public:
    virtual ~Slave();
    // Runs on the thread that changed the master, inside the master's mutex: it must not call
    // Register or UpdateSlaves of the same master.
    virtual void OnMasterChange(const Master& master, Importance_e importance) = 0;
};

class IAPP_API Master {
public:
    Master();
    virtual ~Master();

    Master(const Master&) = delete;
    Master& operator=(const Master&) = delete;

    // Adds the slave once; a null pointer and a slave already registered change nothing.
    void Register(Slave* slave);
    // Calls every slave's OnMasterChange in ascending order of the slave pointers, all under
    // the (non-recursive) mutex. An exception of a slave passes out after the mutex is released;
    // the slaves after it are not called.
    void UpdateSlaves(Importance_e importance);

private:
    std::mutex m_mutex;
    std::set<Slave*> m_slaves;
};

} // namespace iapp

#endif

#include "iapp/master_slave.h"

#include "istd/trace.h"

namespace iapp {

Slave::~Slave() = default;

Master::Master()
{
    ISTD_TRACE_FNC("iapp::Master::Master()");
}

Master::~Master() = default;

void Master::Register(Slave* slave)
{
    if (slave == nullptr) {
        return;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    m_slaves.insert(slave);
}

void Master::UpdateSlaves(Importance_e importance)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    for (Slave* slave : m_slaves) {
        slave->OnMasterChange(*this, importance);
    }
}

} // namespace iapp

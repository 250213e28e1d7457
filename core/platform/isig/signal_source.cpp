#include "isig/signal_source.h"

#include "isig/signal_repository.h"

ISTD_DEFINE_ID_COUNTER(isig::IdSignalSource)

namespace isig {

SignalSource::SignalSource(const std::string& name, const std::string& owner) : m_name(name), m_owner(owner)
{
    SignalRepository::_Register(this);
}

SignalSource::~SignalSource()
{
    UnregisterSource();
}

void SignalSource::UnregisterSource()
{
    SignalRepository::_Unregister(this);
}

int SignalSource::SourceType() const
{
    return 0;
}

SignalStats SignalSource::GetStatistics() const
{
    return {};
}

void SignalSource::OnAnnouncedTimestampChange() {}

void SignalSource::OnAdjustedTimestamp(int64_t, uint64_t) {}

AtomType_e SignalSource::BaseEnumType() const
{
    return AtomTypeOf(BaseType());
}

} // namespace isig

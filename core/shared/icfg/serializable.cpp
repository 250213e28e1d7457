#include "icfg/serializable.h"

#include "istd/trace.h"

namespace icfg {

ISerializable::~ISerializable() = default;

bool ISerializable::Serialize(ElementList& /*elements*/)
{
    ISTD_TRACE_FNC("bool icfg::ISerializable::Serialize(icfg::ElementList&)");
    return true;
}

std::string ISerializable::GetClassName()
{
    return std::string();
}

} // namespace icfg

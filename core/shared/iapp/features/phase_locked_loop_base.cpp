#include "iapp/features/phase_locked_loop_base.h"

#include "istd/trace.h"

namespace ifeature {

PhaseLockedLoopBase::PhaseLockedLoopBase(iapp::KavrelObject& parent, const std::string& name)
    : iapp::KavrelFeature(parent, name)
{
}

PhaseLockedLoopBase::~PhaseLockedLoopBase()
{
    ISTD_TRACE(4, "Destroying " << GetName() << " PhaseLockedLoopBase");
}

} // namespace ifeature

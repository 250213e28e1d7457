#ifndef IAPP_FEATURES_PHASE_LOCKED_LOOP_BASE_H
#define IAPP_FEATURES_PHASE_LOCKED_LOOP_BASE_H

// The base of the features that drive a board's phase-locked loop. It adds nothing to a feature:
// a timing board recognises such a child by this type and accepts it.
//
//     class MyPll : public ifeature::PhaseLockedLoopBase { ... };
//     iapp::Create<MyPll>(paxBoard, "pll");

#include <string>

#include "iapp/iapp_export.h"
#include "iapp/kavrel_feature.h"

namespace ifeature {

class IAPP_API PhaseLockedLoopBase : public iapp::KavrelFeature {
public:
    PhaseLockedLoopBase(iapp::KavrelObject& parent, const std::string& name);
    ~PhaseLockedLoopBase() override;
};

} // namespace ifeature

#endif

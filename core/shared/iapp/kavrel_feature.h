#ifndef IAPP_KAVREL_FEATURE_H
#define IAPP_KAVREL_FEATURE_H

// The base of components that accept feature children: a feature takes any child whose
// dynamic type derives from KavrelFeature and refuses every other one.

#include <string>

#include "iapp/iapp_export.h"
#include "iapp/kavrel_object.h"

namespace iapp {

class IAPP_API KavrelFeature : public KavrelObject {
public:
    KavrelFeature(KavrelObject& parent, const std::string& name);
    ~KavrelFeature() override;

    bool OnQueryChild(const KavrelObject& child) override;
};

} // namespace iapp

#endif

#include "iapp/kavrel_feature.h"

namespace iapp {

KavrelFeature::KavrelFeature(KavrelObject& parent, const std::string& name) : KavrelObject(parent, name) {}

KavrelFeature::~KavrelFeature() = default;

bool KavrelFeature::OnQueryChild(const KavrelObject& child)
{
    return dynamic_cast<const KavrelFeature*>(&child) != nullptr || KavrelObject::OnQueryChild(child);
}

} // namespace iapp

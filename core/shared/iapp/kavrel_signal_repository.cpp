#include "iapp/kavrel_signal_repository.h"

namespace iapp {

KavrelSignalRepository::KavrelSignalRepository(KavrelObject& parent, const std::string& name)
    : KavrelFeature(parent, name)
{
}

KavrelSignalRepository::~KavrelSignalRepository() = default;

} // namespace iapp

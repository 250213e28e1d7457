#include "iapp/kavrel_config.h"

#include "istd/log.h"
#include "istd/ver_info.h"

namespace iapp {

std::string KavrelConfig::VersionText()
{
    const istd::VerInfo& version = istd::VerInfo::GetInstance();
    return std::to_string(version.Major()) + "." + std::to_string(version.Minor()) + "-" +
           std::to_string(version.Build());
}

KavrelConfig::KavrelConfig(const std::string& typesSchemaPath) : icfg::Configuration(VersionText(), typesSchemaPath)
{
}

KavrelConfig::~KavrelConfig() = default;

void KavrelConfig::ErrorCallback(const std::string& message)
{
    istd::LogCritical("Configuration file error: " + message);
}

} // namespace iapp

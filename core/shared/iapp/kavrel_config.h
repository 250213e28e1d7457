#ifndef IAPP_KAVREL_CONFIG_H
#define IAPP_KAVREL_CONFIG_H

// The application's configuration document: the XML file that the application opens and
// validates at start-up (or that its configuration-node registry root reads and writes), with
// this framework release's document version and the XML library's reports going to the
// critical log, so that an operator finds why a configuration file was refused in the log file
// and not only in the trace.

#include <string>

#include "iapp/iapp_export.h"
#include "icfg/configuration.h"

namespace iapp {

class IAPP_API KavrelConfig : public icfg::Configuration {
public:
    // The installed shared types schema that generated schemas import.
    static constexpr const char* c_typesSchema = "/opt/kavrel/xsd/2.8/types.xsd";

    // Version "<major>.<minor>-<build>" of istd::VerInfo. A program run from a build tree, where
    // the types schema is not installed, passes the path of the build's copy.
    explicit KavrelConfig(const std::string& typesSchemaPath = c_typesSchema);
    ~KavrelConfig() override;

    // "Configuration file error: " + message to istd::LogCritical.
    void ErrorCallback(const std::string& message) override;

    // The version text of the framework release, e.g. "2.8-171".
    static std::string VersionText();
};

} // namespace iapp

#endif

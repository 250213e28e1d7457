#ifndef BMC_TESTS_CONFIG_DOC_H
#define BMC_TESTS_CONFIG_DOC_H

// Board configuration documents for tests: fixture files of tests/data, or a document made from
// a few lines and read through the real XML layer from a temporary file.

#include <string>

#include "bmc/config_mng.h"

namespace bmctest {

// The path of a fixture file in the bmc tests' data folder.
std::string ConfigDataPath(const std::string& name);

// <configuration><firmware>body</firmware></configuration>
std::string ConfigDocument(const std::string& firmware, const std::string& body);

// Opens the document text (without validation) in the BoardConfig instance and reads it into
// reader; false when the document holds no element for the reader's firmware type.
bool ReadConfigText(bmc::ConfigMng& reader, const std::string& xml);

// Opens a fixture file with validation (BoardConfig::Init) and reads it into reader.
bool ReadConfigFile(bmc::ConfigMng& reader, const std::string& name);

} // namespace bmctest

#endif

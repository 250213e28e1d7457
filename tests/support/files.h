#ifndef TESTS_SUPPORT_FILES_H
#define TESTS_SUPPORT_FILES_H

// Whole files, and the copy of the shared types schema that the build keeps.

#include <string>

namespace testsupport {

// The file's bytes; "" when it cannot be read.
std::string ReadFile(const std::string& path);
// Replaces the file's content; throws std::runtime_error when it cannot be written.
void WriteFile(const std::string& path, const std::string& content);

// <build>/xsd/<major>.<minor>/types.xsd.
std::string TypesXsd();

} // namespace testsupport

#endif

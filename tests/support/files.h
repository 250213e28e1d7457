#ifndef TESTS_SUPPORT_FILES_H
#define TESTS_SUPPORT_FILES_H

// Whole files, folder listings, and the copy of the shared types schema that the build keeps.

#include <string>
#include <vector>

namespace testsupport {

// The file's bytes; "" when it cannot be read.
std::string ReadFile(const std::string& path);
// Replaces the file's content; throws std::runtime_error when it cannot be written.
void WriteFile(const std::string& path, const std::string& content);
// The names of the entries of a folder, sorted.
std::vector<std::string> FilesIn(const std::string& dir);

// <build>/share/kavrel/xsd/<major>.<minor>/types.xsd.
std::string TypesXsd();

} // namespace testsupport

#endif

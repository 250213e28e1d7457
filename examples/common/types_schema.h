#ifndef EXAMPLES_COMMON_TYPES_SCHEMA_H
#define EXAMPLES_COMMON_TYPES_SCHEMA_H

// Where the example programs find the shared types schema that the schemas they write import.

#include <string>

namespace examples {

// Whether path names a regular file.
bool IsFile(const std::string& path);

// The types schema that the Debian packages install, which stored schemas import. Where it does
// not exist the configuration library uses the copy installed with it (also a build tree's).
std::string DefaultTypesSchema();

} // namespace examples

#endif

#ifndef EXAMPLES_COMMON_TYPES_SCHEMA_H
#define EXAMPLES_COMMON_TYPES_SCHEMA_H

// Where the example programs find the shared types schema that the schemas they write import.

#include <string>

namespace examples {

// Whether path names a regular file.
bool IsFile(const std::string& path);

// The installed types schema, else the build tree's copy (for a program run from the tree).
std::string DefaultTypesSchema();

} // namespace examples

#endif

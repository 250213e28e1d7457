#include "types_schema.h"

#include <sys/stat.h>

namespace examples {

bool IsFile(const std::string& path)
{
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

std::string DefaultTypesSchema()
{
    return EXAMPLES_TYPES_SCHEMA;
}

} // namespace examples

#include "sim/buscores/register_trace.h"

#include <cstdio>

namespace sim {

std::string HexText(uint64_t value)
{
    char text[24];
    std::snprintf(text, sizeof(text), "0x%02llx", static_cast<unsigned long long>(value));
    return text;
}

std::string RegisterAccess::ToString() const
{
    return std::string(write ? "W " : "R ") + name + " " + HexText(value);
}

std::vector<std::string> RegisterTexts(const std::vector<RegisterAccess>& accesses, bool withReads)
{
    std::vector<std::string> texts;
    for (const RegisterAccess& access : accesses) {
        if (withReads || access.write) {
            texts.push_back(access.ToString());
        }
    }
    return texts;
}

} // namespace sim

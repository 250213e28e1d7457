#include "mci/types.h"

#include <ostream>

namespace mci {

const Path c_noRelPath;

const std::string c_accessType("access_type");
const std::string c_atomSize("atom_size");
const std::string c_groupSize("group_size");
const std::string c_compNames("comp_names");
const std::string c_compNum("comp_num");
const std::string c_compType("comp_type");

std::ostream& operator<<(std::ostream& os, const std::vector<std::string>& path)
{
    if (path.empty()) {
        return os << '/';
    }
    for (const std::string& name : path) {
        os << '/' << name;
    }
    return os;
}

} // namespace mci

ISTD_DEFINE_ID_COUNTER(mci::IdIregTreeNode)
ISTD_DEFINE_ID_COUNTER(mci::IdIregClient)
ISTD_DEFINE_ID_COUNTER(mci::IdIregCallback)

ISTD_ENUM_TABLE(mci::enums::Flags_e,
                {mci::enums::eReadable, "readable"},
                {mci::enums::eWritable, "writable"},
                {mci::enums::ePersistent, "persistent"},
                {mci::enums::eConstant, "constant"},
                {mci::enums::eHidden, "hidden"},
                {mci::enums::eCommand, "command"},
                {mci::enums::eArray, "array"},
                {mci::enums::eSignal, "signal"});

ISTD_ENUM_TABLE(mci::enums::NodeValType_e,
                {mci::enums::eNone, "none"},
                {mci::enums::eBool, "bool"},
                {mci::enums::eInt32, "int32"},
                {mci::enums::eUInt32, "uint32"},
                {mci::enums::eInt64, "int64"},
                {mci::enums::eUInt64, "uint64"},
                {mci::enums::eDouble, "double"},
                {mci::enums::eFloat, "float"},
                {mci::enums::eString, "string"},
                {mci::enums::eEnumeration, "enumeration"});

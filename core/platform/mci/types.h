#ifndef MCI_TYPES_H
#define MCI_TYPES_H

// Basic types of the tree layer: flags, value-type codes, paths, ids and the name constants
// that the registry shares with its clients.

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "istd/enum_map.h"
#include "istd/id.h"
#include "mci/mci_export.h"

namespace mci {

// A set of enums::Flags_e bits.
using Flags = uint64_t;

namespace enums {

enum Flags_e : uint64_t {
    eReadable = 0x2,
    eWritable = 0x4,
    ePersistent = 0x8,
    eConstant = 0x20,
    eHidden = 0x40,
    eCommand = 0x80,
    eArray = 0x200,
    eSignal = 0x400,
};

enum NodeValType_e {
    eNone = 0,
    eBool = 1,
    eInt32 = 2,
    eUInt32 = 3,
    eInt64 = 4,
    eUInt64 = 5,
    eDouble = 6,
    eFloat = 7,
    eString = 8,
    eEnumeration = 9,
};

enum NotificationType_e : int32_t {
    eValueChanged = 0,
};

// The value of a command node. Its name table belongs to the registry, which defines what
// writing it means.
enum NodeCommand_e : unsigned int {
    eExecute = 238,
};

} // namespace enums

// A relative path: one name per level below the node it starts from.
using Path = std::vector<std::string>;

// The empty path: the node itself.
extern MCI_API const Path c_noRelPath;

// Tags of the id counters this library owns.
struct MCI_API IdIregTreeNode {};
struct MCI_API IdIregClient {};
struct MCI_API IdIregCallback {};

using TreeNodeId = istd::Id<IdIregTreeNode>;
using ClientId = istd::Id<IdIregClient>;
using CallbackId = istd::Id<IdIregCallback>;

class TreeNode;
using TreeNodePtr = std::shared_ptr<TreeNode>;

// Names of the description children of a signal node.
extern MCI_API const std::string c_accessType;
extern MCI_API const std::string c_atomSize;
extern MCI_API const std::string c_groupSize;
extern MCI_API const std::string c_compNames;
extern MCI_API const std::string c_compNum;
extern MCI_API const std::string c_compType;

// Writes a path as "/a/b" (the empty path as "/"). Argument-dependent look-up does not find it
// for a std::vector, so callers write `using mci::operator<<;`.
MCI_API std::ostream& operator<<(std::ostream& os, const std::vector<std::string>& path);

} // namespace mci

ISTD_DECLARE_ID_COUNTER(mci::IdIregTreeNode)
ISTD_DECLARE_ID_COUNTER(mci::IdIregClient)
ISTD_DECLARE_ID_COUNTER(mci::IdIregCallback)

ISTD_ENUM_TABLE_DECL(mci::enums::Flags_e)
ISTD_ENUM_TABLE_DECL(mci::enums::NodeValType_e)

#endif

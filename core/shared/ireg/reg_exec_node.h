#ifndef IREG_REG_EXEC_NODE_H
#define IREG_REG_EXEC_NODE_H

// RegExecNode: a command node. Writing "Execute" to it (the name, the text "238" or the number
// 238 as int32_t or int64_t) runs the component's action on the writer's thread, inside the node
// lock; the write succeeds only when the action returns true. It reads "Execute" (238) always.
//
//   no action (tested before the number; a text is converted first)  "ireg: No action defined for this node."
//   a number that is not 238 (also 2^32 + 238)                         "invalid value"
//   a text neither "Execute" nor an integer                            "Invalid integer value"
//   an integer text other than "238"                                   "Invalid enum value"
//   the action returns false                                           "ireg: Execution failed."
//   the action throws                                                  its own exception
// The typed set adds its "ireg: " + name + ": " prefix; a failed write sends no notification.
// Every node carries the command and writable flags (execFlags_c) besides the flags it is given,
// and it always has one element: Resize is refused.

#include <functional>
#include <string>

#include "ireg/ireg_export.h"
#include "ireg/reg_enum_node.h"

namespace ireg {

class IREG_API RegExecNode : public RegValueEnumNode<mci::enums::NodeCommand_e> {
public:
    using Command = mci::enums::NodeCommand_e;

    // Command (0x80) and writable (0x4).
    static constexpr mci::Flags execFlags_c = mci::enums::eCommand | mci::enums::eWritable;

    RegExecNode(const std::string& name, std::function<bool()> action, mci::Flags flags = 0);

    // The action is component->*action().
    template <class T>
    RegExecNode(const std::string& name, T* component, bool (T::*action)(), mci::Flags flags = 0)
        : RegExecNode(name, std::function<bool()>([component, action]() { return (component->*action)(); }), flags)
    {
    }

    ~RegExecNode() override;

    using RegValueEnumNode<Command>::OnSet;

    void OnSet(const int64_t* values, size_t pos, size_t count) override;
    void OnSet(const int32_t* values, size_t pos, size_t count) override;
    void OnSet(const std::string* values, size_t pos, size_t count) override;

    // Always false: a command node has one element.
    bool OnResize(size_t size, const mci::Path& path) override;

protected:
    // Checks the action and the command, stores it and runs the action.
    void _OnSet(int64_t command);

private:
    std::function<bool()> m_action;
};

} // namespace ireg

#endif

#ifndef IAPP_KAVREL_RUNTIME_BUILDER_H
#define IAPP_KAVREL_RUNTIME_BUILDER_H

// The runtime registry builder: a subtree of registry nodes laid over a block of memory that
// the application owns, described in an XML file instead of in code.
//
//     iapp::KavrelRuntimeBuilder builder(parent, block, blockSize, "/path/board.xml", 4);
//     builder.BuildRegistry();
//
// The description (root element "runtime_config", validated against the schema it names,
// e.g. runtime_config.xsd installed beside types.xsd) holds, in any nesting of `node`
// elements:
//
//   <node name="" flags="">                        a branch without a value
//   <reg_node name="" offset="" type="" flags="" size="" string_size=""/>
//                                                  a value (array) in the block at offset
//   <bit_node name="" offset="" type="" flags="" bit_offset="" bit_size=""/>
//                                                  a field of the 32-bit word at offset
//
// Numbers are decimal, or hexadecimal after "0x". `type` is a value-type name of mci's table
// ("bool", "int32", ..., "string") or its code; `flags` are flag names or flag values separated
// by blanks, ORed; no flags (or only "0") means readable and writable. A `reg_node` or
// `bit_node` with an attribute of any other name is skipped whole; an element of another name
// is traced and skipped. A `size` above 1 makes an array; a `string` node has `size` fields of
// `string_size` bytes each.
//
// Every node must lie wholly inside the block: its offset below the block size, a multiple of
// the alignment (string nodes excepted), and offset + bytes of all its elements at most the
// block size. A description that breaks a rule throws istd::Exception from BuildRegistry; the
// nodes built before the failing element stay in the tree (there is no undo). The nodes read
// and write the block on every get and set, also after the builder is gone, so the block must
// outlive the registry.
//
// The alignment applies to offsets only, whatever the element type: with an alignment below
// an element's own alignment the element may lie off it, and its node then reads and writes it
// byte by byte (an element on its alignment stays one access of its width).

#include <cstddef>
#include <cstdint>
#include <string>

#include "iapp/iapp_export.h"
#include "icfg/configuration.h"
#include "icfg/serializable.h"
#include "mci/tree_node.h"

namespace iapp {

// The description document: version "1.0", read from its root element "runtime_config".
class IAPP_API RuntimeBuilderConfig : public icfg::Configuration {
public:
    RuntimeBuilderConfig();
    ~RuntimeBuilderConfig() override;

    // Logs (critical) "Runtime configuration error: " + message.
    void ErrorCallback(const std::string& message) override;
    // "runtime_config".
    std::string GetApplicationName() override;
};

class IAPP_API KavrelRuntimeBuilder : public icfg::ISerializable {
public:
    // The array flag that a `reg_node` with several elements gains.
    static constexpr uint64_t c_arrayFlag = 0x200;
    // Nesting of `node` elements beyond this is refused, so that a hostile element tree cannot
    // exhaust the stack. A file cannot reach it: the XML parser stops at 256 levels of elements,
    // of which the root element is one.
    static constexpr size_t c_maxNodeDepth = 256;
    // A bit offset or size is kept in 8 bits; above that it is refused.
    static constexpr uint32_t c_maxBitNumber = 255;

    // Opens and validates the description. Throws the document's istd::Exception when the file
    // cannot be read or is not valid, and refuses an empty root and an alignment of 0.
    KavrelRuntimeBuilder(mci::TreeNodePtr& root, void* base, size_t size, const std::string& fileName,
                         size_t alignment);
    ~KavrelRuntimeBuilder() override;
    KavrelRuntimeBuilder(const KavrelRuntimeBuilder&) = delete;
    KavrelRuntimeBuilder& operator=(const KavrelRuntimeBuilder&) = delete;

    // Builds the subtree under the root: true when the description was read, false when it
    // holds no "runtime_config" root element. A bad element throws (after a level-1 trace
    // naming the file). A second call builds again; nodes of names already taken replace the
    // earlier ones.
    bool BuildRegistry();

    // Takes the one element of the list (the root element) and builds its children under the
    // root; false for any other number of elements.
    bool Deserialize(const icfg::ElementList& elements) override;

    // Processes the element's children in document order under the parent.
    bool ParseNode(const icfg::ElementPtr& element, mci::TreeNodePtr& parent);
    // Attaches the branch node of a `node` element and returns it.
    mci::TreeNodePtr AddNode(const icfg::ElementPtr& element, mci::TreeNodePtr& parent);
    // Attach the node of a `reg_node` or `bit_node` element; false (nothing attached, no trace)
    // when the element has an attribute of another name.
    bool ParseRegNode(const icfg::ElementPtr& element, mci::TreeNodePtr& parent);
    bool ParseBitNode(const icfg::ElementPtr& element, mci::TreeNodePtr& parent);

    // Flag names or single flag values separated by blanks, ORed (each zero-extended); "0"
    // adds nothing. "Invalid integer value" for a word that is neither, "Invalid enum value"
    // for a number that is no flag's value.
    static uint64_t ParseFlags(const std::string& text);
    // A value-type name or its code, with the same two failures.
    static mci::enums::NodeValType_e ParseType(const std::string& text);

    // The address of count elements of T at offset, after the tests of the offset (below the
    // block size, a multiple of the alignment) and of the extent (all elements inside the
    // block). T is one of the seven value types of a `reg_node`.
    template <class T>
    volatile T* CalculateAddr(const uint32_t& offset, size_t count = 1);

    // A node over size elements of T at offset (a scalar node for a size of 0 or 1 without
    // the array flag), attached to the parent.
    template <class T>
    mci::TreeNodePtr AddRegistryNode(mci::TreeNodePtr& parent, const std::string& name, const uint32_t& offset,
                                     const uint64_t& flags, size_t size);
    // A bit node of T (bool or an integer type) over the 32-bit word at offset.
    template <class T>
    mci::TreeNodePtr AddBitRegistryNode(mci::TreeNodePtr& parent, const std::string& name, const uint32_t& offset,
                                        const uint8_t& bitOffset, const uint8_t& bitSize, const uint64_t& flags);
    // A string node of max(size, 1) fields of stringSize bytes at offset (not subject to the
    // alignment).
    mci::TreeNodePtr AddStringRegistryNode(mci::TreeNodePtr& parent, const std::string& name, const uint32_t& offset,
                                           const uint64_t& flags, size_t stringSize, size_t size);

    const std::string& GetFileName() const { return m_fileName; }

private:
    // The offset below the block size; count elements of elementSize bytes from it inside
    // the block.
    void _CheckOffset(uint32_t offset) const;
    void _CheckExtent(uint32_t offset, size_t elementSize, size_t count) const;
    // Attaches the node; a name already taken under the parent is traced (the newer node
    // replaces the older one).
    static mci::TreeNodePtr _Attach(mci::TreeNodePtr& parent, const mci::TreeNodePtr& node);

    RuntimeBuilderConfig m_config;
    mci::TreeNodePtr m_root;
    char* m_base;
    std::string m_fileName;
    size_t m_size;
    size_t m_alignment;
    // Levels of `node` elements above the element being processed.
    size_t m_depth = 0;
};

} // namespace iapp

#endif

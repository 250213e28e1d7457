#ifndef IREG_REG_CONFIG_NODE_H
#define IREG_REG_CONFIG_NODE_H

// The configuration node: a registry node whose subtree persists in an XML file of its own.
//
//   load  (LoadConfiguration): the file is opened, validated against the schema it names and
//         read into the children; then every configuration node below loads its own file.
//         A file that does not exist keeps the built-in values (warning). A file that exists
//         but is no regular file (refused before it is opened, so a FIFO cannot block), or
//         cannot be read, parsed, validated or read into the tree logs a warning, throws,
//         and is never written by this node afterwards, so the real settings it may hold are
//         not replaced by defaults. A load that did not throw also checks that the file can be
//         written and warns at once when it cannot ("Can't write configuration file X, error:
//         <reason>. ..."), so that the settings of a run are not lost unannounced at its stop.
//   write (WriteConfiguration, and the tree's clean-up at shutdown): the children's elements
//         go to the file, atomically (the old file or the new one, never a torn one), with the
//         schema beside it by the schema mode; then every configuration node below writes its
//         own file. When the load found values the registry refused (or elements that name no
//         node), the file as it was loaded is kept first under "<file>.refused-<UTC time>",
//         with a warning naming both files and each refused value; without that copy the file
//         is not written.
//
// As a child of another node the configuration node contributes nothing to its parent's file:
// its subtree lives in its own file only. The node itself has no value.

#include <atomic>
#include <string>
#include <utility>
#include <vector>

#include "icfg/configuration.h"
#include "icfg/serializable.h"
#include "ireg/ireg_export.h"
#include "ireg/reg_node.h"

namespace ireg {

namespace detail {

// A set of paths in a single buffer: a load of a hundred thousand values costs a few
// allocations for their paths rather than two or three for each.
class PathSet {
public:
    void Add(const std::string& path);
    // Orders the paths added; Contains answers for those added before.
    void Seal();
    bool Contains(const std::string& path) const;
    void Clear();

private:
    // Ordered by the hash of the path alone: sorting a hundred thousand numbers is far cheaper
    // than sorting as many texts, and a lookup compares texts only where the hash matches.
    struct Span {
        size_t hash;
        size_t offset; // in m_text
        size_t length;
    };
    std::string m_text;
    std::vector<Span> m_spans;
};

} // namespace detail

class IREG_API RegConfigNode : public RegNode, public icfg::ISerializable {
public:
    // The document used for the file: the given one (borrowed), or, for nullptr, one of the
    // node's own (version "1.0", types schema "/opt/kavrel/xsd/2.8/types.xsd").
    RegConfigNode(const std::string& name, const std::string& fileName, icfg::Configuration* configuration,
                  mci::Flags flags = 0);
    // Deletes an own document; writes nothing.
    ~RegConfigNode() override;

    // When a write also writes the schema (always by default); returns this node.
    RegConfigNode& CreateXsdFileOnSave(const icfg::Configuration::CreateXsd_e& mode);

    // What the last loads found, of this node's file and of the configuration nodes below it:
    // the persistent values of the subtree, how many of them kept their built-in value because
    // the file holds none for them (all, for a missing file), and how many values of the files
    // the registry refused (also those of elements that name no node).
    struct LoadSummary {
        size_t values = 0;
        size_t defaulted = 0;
        size_t refused = 0;
    };
    LoadSummary GetLoadSummary();

    const std::string& GetFileName() const { return m_fileName; }
    // False once a load found the file damaged or unreadable: the node then never writes it.
    bool MayWrite() const { return m_mayWrite.load(); }
    // False keeps the clean-up from writing the file (for a program whose start failed after
    // the load, so that nothing it did reaches the file); true by default.
    void SetWriteOnCleanup(bool write) { m_writeOnCleanup.store(write); }

    using RegNode::Deserialize;
    using RegNode::Serialize;

    // The document's side: the children's elements for the file, and the file's root element
    // "configuration" back into the children (false when the list is not that one element, or
    // when a child's load failed; the other children still load).
    bool Deserialize(const icfg::ElementList& elements) override;
    bool Serialize(icfg::ElementList& elements) override;

    // No element in an ancestor's file, and none read from it.
    icfg::ElementPtr OnSerialize() override;
    bool OnDeserialize(const icfg::ElementPtr& element) override;
    // The file, then every child.
    bool OnLoadConfiguration() override;
    bool OnWriteConfiguration() override;
    // Writes the configuration, then cleans the children up.
    bool OnCleanup(const mci::Path& path) override;

private:
    // Loads the file itself: true when every value was read, false for a missing file or values
    // left unread; throws for a damaged or unreadable file, after the warning.
    bool _LoadFile();
    // Keeps the file as it was loaded beside it when the load refused values; false when that
    // was needed and failed.
    bool _KeepRefusedFile();
    // Counts this file's part of the load summary from m_fileValues and m_refused.
    void _CountLoad();
    // Warns at once when the file could not be written at the stop.
    void _CheckWritable();

    std::string m_fileName;
    icfg::Configuration* m_configuration;
    bool m_ownConfiguration;
    std::atomic<bool> m_mayWrite{true};
    std::atomic<bool> m_writeOnCleanup{true};
    // What the last load refused, until the file is kept (under the node lock).
    std::vector<LoadRefusals::Entry> m_refused;
    // The last load of the file (under the node lock).
    LoadSummary m_summary;
    // The paths ("/a/b") of the values the file being read holds (under the node lock, during a
    // load).
    detail::PathSet m_fileValues;
    icfg::Configuration::CreateXsd_e m_xsdMode = icfg::Configuration::e_xsdAlways;
};

} // namespace ireg

#endif

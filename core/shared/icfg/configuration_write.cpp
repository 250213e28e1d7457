// Writing documents and generating their schemas.

#include <sys/stat.h>

#include <libxml/chvalid.h>
#include <libxml/parserInternals.h>
#include <libxml/tree.h>
#include <libxml/xmlstring.h>

#include <algorithm>
#include <memory>
#include <set>
#include <string>

#include "icfg/configuration.h"
#include "icfg/xml_io.h"
#include "istd/enum_map.h"
#include "istd/exception.h"
#include "istd/outside_text.h"
#include "istd/trace.h"

namespace icfg {

namespace {

const char c_xsiNamespace[] = "http://www.w3.org/2001/XMLSchema-instance";

struct DocDeleter {
    void operator()(xmlDocPtr document) const { xmlFreeDoc(document); }
};
using DocPtr = std::unique_ptr<xmlDoc, DocDeleter>;

const xmlChar* X(const std::string& text)
{
    return reinterpret_cast<const xmlChar*>(text.c_str());
}
const xmlChar* X(const char* text)
{
    return reinterpret_cast<const xmlChar*>(text);
}

// The characters of names (XML 1.0 fifth edition, as the parser reads them), without ':'.
bool IsNameStartChar(int c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || (c >= 0xC0 && c <= 0xD6) ||
           (c >= 0xD8 && c <= 0xF6) || (c >= 0xF8 && c <= 0x2FF) || (c >= 0x370 && c <= 0x37D) ||
           (c >= 0x37F && c <= 0x1FFF) || (c >= 0x200C && c <= 0x200D) || (c >= 0x2070 && c <= 0x218F) ||
           (c >= 0x2C00 && c <= 0x2FEF) || (c >= 0x3001 && c <= 0xD7FF) || (c >= 0xF900 && c <= 0xFDCF) ||
           (c >= 0xFDF0 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0xEFFFF);
}

bool IsNameChar(int c)
{
    return IsNameStartChar(c) || c == '-' || c == '.' || (c >= '0' && c <= '9') || c == 0xB7 ||
           (c >= 0x300 && c <= 0x36F) || (c >= 0x203F && c <= 0x2040);
}

// Asks accept(c, first) about every character of UTF-8 text; false at the first refusal and
// for text that is not well-formed UTF-8 (as libxml2's parser reads it: its xmlGetUTF8Char
// takes longer forms than needed, which the parser refuses).
template <class Accept>
bool EveryChar(const std::string& text, Accept accept)
{
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text.data());
    size_t left = text.size();
    bool first = true;
    while (left > 0) {
        size_t length = 0;
        const int c = istd::DecodeUtf8(p, left, length);
        if (c < 0 || !accept(c, first)) {
            return false;
        }
        first = false;
        p += length;
        left -= length;
    }
    return true;
}

// A name that reads back as the same element name (no prefix), and not longer than libxml2
// reads.
bool IsXmlName(const std::string& name)
{
    return !name.empty() && name.size() <= XML_MAX_NAME_LENGTH &&
           EveryChar(name, [](int c, bool first) { return first ? IsNameStartChar(c) : IsNameChar(c); });
}

// A name a schema may declare: libxml2 checks the names of declarations by the older, narrower
// rules of XML 1.0's fourth edition.
bool IsSchemaName(const std::string& name)
{
    return IsXmlName(name) && xmlValidateNCName(X(name), 0) == 0;
}

// An attribute name besides: never a namespace declaration.
bool IsAttributeName(const std::string& name)
{
    return IsXmlName(name) && name != "xmlns";
}

// Text that XML 1.0 can carry: well-formed UTF-8 of allowed characters only (not U+FFFE,
// U+FFFF, nor controls other than tab, line feed and carriage return).
bool IsXmlText(const std::string& text)
{
    return EveryChar(text, [](int c, bool) { return xmlIsCharQ(c) != 0; });
}

[[noreturn]] void ThrowInvalidValue()
{
    throw istd::Exception("invalid value", true);
}

// The declaration an element gets, as text: siblings with equal shapes get equal declarations.
std::string Shape(const ElementPtr& element)
{
    std::string shape = element->GetName() + '\x01' + std::to_string(element->GetType()) + '\x01' +
                        std::to_string(element->GetOrder()) + (element->GetValue().empty() ? "\x01" : "\x01m");
    for (const AttributePtr& attribute : element->GetAttributes()) {
        shape += '\x02' + attribute->GetName() + '\x03' + std::to_string(attribute->GetType());
        for (const std::string& value : attribute->GetValidValues()) {
            shape += '\x04' + value;
        }
    }
    const ElementList& children = element->GetChildren();
    shape += '\x05';
    for (const ElementPtr& child : children) {
        shape += Shape(child) + '\x06';
        if (element->GetOrder() == Element::e_sequence) {
            break;
        }
    }
    return shape;
}

// A group that a valid schema can describe: unique names under all and choice (which declare
// each child), items of one shape under sequence (which declares the first).
void CheckGroup(Element::Order_e order, const ElementList& children)
{
    if (order == Element::e_sequence) {
        const std::string first = children.empty() ? std::string() : Shape(children.front());
        for (size_t i = 1; i < children.size(); ++i) {
            if (Shape(children[i]) != first) {
                ThrowInvalidValue();
            }
        }
        return;
    }
    std::set<std::string> names;
    for (const ElementPtr& child : children) {
        if (!names.insert(child->GetName()).second) {
            ThrowInvalidValue();
        }
    }
}

// libxml2 reads at most 257 levels of elements (no XML_PARSE_HUGE). A document holds its root
// and the trees under it; a schema needs three levels per element and five more for the
// enumeration of an attribute's valid values.
constexpr size_t c_maxDocumentDepth = 257;
constexpr size_t c_maxSchemaTreeDepth = (c_maxDocumentDepth - 7) / 3;

// The depth of the deepest tree of the list, counted up to limit + 1 at most.
size_t TreeDepth(const ElementList& elements, size_t limit)
{
    size_t deepest = 0;
    for (const ElementPtr& element : elements) {
        if (limit == 0) {
            return 1;
        }
        deepest = std::max(deepest, 1 + TreeDepth(element->GetChildren(), limit - 1));
        if (deepest > limit) {
            break;
        }
    }
    return deepest;
}

// The reason added to the error of a file that was not written because it could not be read.
// Why the file could not be saved, for the end of the message ("" when the file does not say).
std::string ReasonOf(const detail::PendingFile& file)
{
    return file.Error().empty() ? "" : ": " + file.Error();
}

bool FileExists(const std::string& path)
{
    struct stat st {};
    return stat(path.c_str(), &st) == 0;
}

} // namespace

std::string GenerateXsdFileName(const std::string& fileName)
{
    const size_t slash = fileName.rfind('/');
    const size_t start = slash == std::string::npos ? 0 : slash + 1;
    const size_t dot = fileName.rfind('.');
    // Only the last component has an extension, and a leading dot (".app") is none.
    if (dot == std::string::npos || dot <= start) {
        return fileName + ".xsd";
    }
    return fileName.substr(0, dot) + ".xsd";
}

void Configuration::_CheckText(const std::string& text, const char* what, const std::string& name)
{
    if (!IsXmlText(text)) {
        throw istd::Exception(std::string(what) + " of \"" + name + "\" holds characters XML cannot carry", true);
    }
}

void Configuration::NewDocument(const std::string& fileName)
{
    ISTD_TRACE_FNC("void icfg::Configuration::NewDocument(const std::string&)");
    CloseDocument();
    const std::string rootName = GetApplicationName();
    if (!IsXmlName(rootName)) {
        throw istd::Exception("invalid element name \"" + rootName + "\"", true);
    }
    // The schema lies beside the file. A relative location is read relative to the document,
    // so one written for a relative file name with a directory part is the bare file name.
    std::string location = GenerateXsdFileName(fileName);
    if (!location.empty() && location[0] != '/') {
        location = location.substr(location.rfind('/') + 1);
    }
    _CheckText(location, "the schema location", fileName);
    _CheckText(m_version, "the version", rootName);

    m_document = xmlNewDoc(X("1.0"));
    xmlNodePtr root = xmlNewDocNode(m_document, nullptr, X(rootName), nullptr);
    xmlDocSetRootElement(m_document, root);
    xmlNsPtr xsi = xmlNewNs(root, X(c_xsiNamespace), X("xsi"));
    xmlNewNsProp(root, xsi, X("noNamespaceSchemaLocation"), X(location));
    xmlNewProp(root, X(g_versionStr), X(m_version));
}

void Configuration::CreateXmlNode(xmlNodePtr parent, const ElementPtr& element)
{
    ISTD_TRACE_FNC("void icfg::Configuration::CreateXmlNode(xmlNode*, const icfg::ElementPtr&)");
    const std::string name = element->GetName();
    if (!IsXmlName(name)) {
        throw istd::Exception("invalid element name \"" + name + "\"", true);
    }
    const std::string value = element->GetValue();
    _CheckText(value, "the value", name);
    xmlNodePtr node = xmlNewTextChild(parent, nullptr, X(name), value.empty() ? nullptr : X(value));
    for (const AttributePtr& attribute : element->GetAttributes()) {
        const std::string attributeName = attribute->GetName();
        if (!IsAttributeName(attributeName)) {
            throw istd::Exception("invalid attribute name \"" + attributeName + "\" in \"" + name + "\"", true);
        }
        const std::string attributeValue = attribute->GetValue();
        _CheckText(attributeValue, "the attribute value", name + "/@" + attributeName);
        xmlNewProp(node, X(attributeName), X(attributeValue));
    }
    for (const ElementPtr& child : element->GetChildren()) {
        CreateXmlNode(node, child);
    }
}

void Configuration::Write(ISerializable& object, const std::string& fileName, CreateXsd_e mode)
{
    ISTD_TRACE_FNC("void icfg::Configuration::Write(icfg::ISerializable&, const std::string&, icfg::Configuration::CreateXsd_e)");
    ElementList elements;
    if (!object.Serialize(elements)) {
        return;
    }
    const std::string className = object.GetClassName();
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    ErrorBinding binding(this);
    struct Closer {
        Configuration* owner;
        ~Closer() { owner->CloseDocument(); }
    } closer{this};

    try {
        if (TreeDepth(elements, c_maxDocumentDepth - 1) > c_maxDocumentDepth - 1) {
            throw istd::Exception("elements nested deeper than " + std::to_string(c_maxDocumentDepth) +
                                      " levels",
                                  true);
        }
        NewDocument(fileName);
        xmlNodePtr root = xmlDocGetRootElement(m_document);
        for (const ElementPtr& element : elements) {
            CreateXmlNode(root, element);
        }
    } catch (const istd::Exception& e) {
        throw istd::Exception("Cannot store configuration file " + fileName + ": " + e.what(), true);
    }

    const std::string schemaName = GenerateXsdFileName(fileName);
    DocPtr schema;
    if (mode != e_xsdNever && !(mode == e_xsdIfMissing && FileExists(schemaName))) {
        (void)className; // the schema describes the elements alone
        schema.reset(_BuildXsd(elements));
    }

    // Both files are complete on disk before either replaces its old one; the schema goes
    // first, and comes back out when the document cannot follow it.
    detail::PendingFile file(fileName);
    if (!file.Save(m_document)) {
        throw istd::Exception("Cannot store configuration file " + fileName + ReasonOf(file), true);
    }
    std::unique_ptr<detail::PendingFile> schemaFile;
    if (schema) {
        schemaFile = std::make_unique<detail::PendingFile>(schemaName);
        if (!schemaFile->Save(schema.get()) || !schemaFile->Commit()) {
            throw istd::Exception("Cannot store xsd file " + schemaName + ReasonOf(*schemaFile), true);
        }
    }
    if (!file.Commit()) {
        if (schemaFile) {
            schemaFile->Rollback();
        }
        throw istd::Exception("Cannot store configuration file " + fileName + ReasonOf(file), true);
    }
    ISTD_TRACE(2, "Configuration file " << fileName << " stored successfully.");
}

bool Configuration::CanWrite(const std::string& fileName, std::string& reason)
{
    detail::PendingFile file(fileName);
    if (file.Probe()) {
        return true;
    }
    reason = file.Error();
    return false;
}

void Configuration::GenerateXsd(const std::string& schemaFileName, const std::string& /*className*/,
                                const ElementList& elements)
{
    ISTD_TRACE_FNC("void icfg::Configuration::GenerateXsd(const std::string&, const std::string&, const icfg::ElementList&)");
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    ErrorBinding binding(this);
    DocPtr schema(_BuildXsd(elements));
    detail::PendingFile file(schemaFileName);
    if (!file.Save(schema.get()) || !file.Commit()) {
        throw istd::Exception("Cannot store xsd file " + schemaFileName + ReasonOf(file), true);
    }
}

xmlDocPtr Configuration::_BuildXsd(const ElementList& elements)
{
    ISTD_TRACE_FNC("xmlDoc* icfg::Configuration::_BuildXsd(const icfg::ElementList&)");
    DocPtr schema(xmlNewDoc(X("1.0")));
    xmlNodePtr root = xmlNewDocNode(schema.get(), nullptr, X("schema"), nullptr);
    xmlDocSetRootElement(schema.get(), root);
    m_xsNamespace = xmlNewNs(root, X(c_xsNamespace), X(c_xsPrefix));
    xmlSetNs(root, m_xsNamespace);
    struct Forget {
        xmlNsPtr& ns;
        ~Forget() { ns = nullptr; } // it belongs to the schema document, freed with it
    } forget{m_xsNamespace};

    // The schema must name a types schema that exists, or it would not validate what it describes.
    const std::string typesSchema = detail::TypesSchemaInUse(m_typesSchemaPath);
    ImportSchema(root, typesSchema, c_typesNamespace, c_typesPrefix);
    if (!IsXmlText(m_version) || !IsXmlText(typesSchema)) {
        ThrowInvalidValue();
    }
    CreateXsdAttr(root, g_versionStr, m_version);

    const std::string rootName = GetApplicationName();
    if (!IsSchemaName(rootName)) {
        ThrowInvalidValue();
    }
    if (TreeDepth(elements, c_maxSchemaTreeDepth) > c_maxSchemaTreeDepth) {
        ThrowInvalidValue(); // its schema would be too deep to be read back
    }
    xmlNodePtr rootElement = CreateXsdElementNode(root, rootName, e_root, true);
    xmlNodePtr complexType = CreateXsdNode(rootElement, "complexType", m_xsNamespace);
    if (!elements.empty()) {
        CheckGroup(Element::e_all, elements);
        xmlNodePtr all = CreateXsdNode(complexType, "all", m_xsNamespace);
        for (const ElementPtr& element : elements) {
            CreateXsdNode(all, element);
        }
    }
    xmlNodePtr version = CreateXsdNode(complexType, "attribute", m_xsNamespace);
    CreateXsdAttr(version, "name", g_versionStr);
    CreateXsdAttr(version, "use", g_requiredStr);
    CreateXsdAttr(version, "type", istd::EnumName(e_xsString));
    return schema.release();
}

void Configuration::ImportSchema(xmlNodePtr schemaRoot, const std::string& typesSchemaPath,
                                 const std::string& typesNamespaceUri, const std::string& typesPrefix)
{
    xmlNewNs(schemaRoot, X(typesNamespaceUri), X(typesPrefix));
    xmlNodePtr import = CreateXsdNode(schemaRoot, "import", m_xsNamespace);
    CreateXsdAttr(import, "namespace", typesNamespaceUri);
    CreateXsdAttr(import, "schemaLocation", typesSchemaPath);
}

xmlNodePtr Configuration::CreateXsdNode(xmlNodePtr parent, const ElementPtr& element)
{
    ISTD_TRACE_FNC("xmlNode* icfg::Configuration::CreateXsdNode(xmlNode*, const icfg::ElementPtr&)");
    const std::string name = element->GetName();
    if (!IsSchemaName(name)) {
        ThrowInvalidValue();
    }
    const DataType_e type = element->GetType();
    xmlNodePtr declaration = CreateXsdElementNode(parent, name, type, false);
    // Inside a sequence the one declaration stands for every item of the list.
    if (xmlStrEqual(parent->name, X("sequence"))) {
        CreateXsdAttr(declaration, g_attMaxOccurs, "unbounded");
    }
    const ElementList& children = element->GetChildren();
    const std::vector<AttributePtr>& attributes = element->GetAttributes();
    if (children.empty() && attributes.empty()) {
        return declaration;
    }
    // A simple type carries neither attributes nor children.
    if (type != e_none && type != e_root) {
        ThrowInvalidValue();
    }
    xmlNodePtr complexType = CreateXsdNode(declaration, "complexType", m_xsNamespace);
    if (!element->GetValue().empty()) {
        // Text beside attributes or children: the document written from this tree holds it.
        if (!IsXmlText(element->GetValue())) {
            ThrowInvalidValue();
        }
        CreateXsdAttr(complexType, "mixed", "true");
    }
    xmlNodePtr group = nullptr;
    if (!children.empty()) {
        const Element::Order_e order = element->GetOrder();
        group = CreateXsdNode(complexType, istd::EnumName(order), m_xsNamespace);
        CheckGroup(order, children);
    }
    for (const AttributePtr& attribute : attributes) {
        CreateXsdNodeAttr(complexType, attribute);
    }
    if (group == nullptr) {
        return complexType;
    }
    for (const ElementPtr& child : children) {
        CreateXsdNode(group, child);
        if (element->GetOrder() == Element::e_sequence) {
            break;
        }
    }
    return group;
}

xmlNodePtr Configuration::CreateXsdElementNode(xmlNodePtr parent, const std::string& name, DataType_e type,
                                               bool required)
{
    xmlNodePtr node = CreateXsdNode(parent, "element", m_xsNamespace);
    CreateXsdAttr(node, "name", name);
    if (!required) {
        CreateXsdAttr(node, g_attMinOccurs, "0");
    }
    if (type != e_none && type != e_root) {
        CreateXsdAttr(node, "type", istd::EnumName(type));
    }
    return node;
}

void Configuration::CreateXsdNodeAttr(xmlNodePtr complexType, const AttributePtr& attribute)
{
    ISTD_TRACE_FNC("void icfg::Configuration::CreateXsdNodeAttr(xmlNode*, const icfg::AttributePtr&)");
    const std::string name = attribute->GetName();
    if (!IsAttributeName(name) || !IsSchemaName(name)) {
        ThrowInvalidValue();
    }
    xmlNodePtr node = CreateXsdNode(complexType, "attribute", m_xsNamespace);
    CreateXsdAttr(node, "name", name);
    CreateXsdAttr(node, "use", g_requiredStr);
    const DataType_e type = attribute->GetType();
    if (type == e_none || type == e_root) {
        return;
    }
    const std::vector<std::string> validValues = attribute->GetValidValues();
    if (type == e_xsString && !validValues.empty()) {
        xmlNodePtr simpleType = CreateXsdNode(node, "simpleType", m_xsNamespace);
        xmlNodePtr restriction = CreateXsdNode(simpleType, "restriction", m_xsNamespace);
        CreateXsdAttr(restriction, "base", istd::EnumName(e_xsString));
        for (const std::string& value : validValues) {
            if (!IsXmlText(value)) {
                ThrowInvalidValue();
            }
            CreateXsdAttr(CreateXsdNode(restriction, "enumeration", m_xsNamespace), "value", value);
        }
        return;
    }
    CreateXsdAttr(node, "type", istd::EnumName(type));
}

xmlNodePtr Configuration::CreateXsdNode(xmlNodePtr parent, const std::string& name, xmlNsPtr ns)
{
    return xmlNewTextChild(parent, ns, X(name), nullptr);
}

void Configuration::CreateXsdAttr(xmlNodePtr node, const std::string& name, const std::string& value)
{
    xmlNewProp(node, X(name), X(value));
}

} // namespace icfg

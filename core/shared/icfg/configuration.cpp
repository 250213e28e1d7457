#include "icfg/configuration.h"

#include <libxml/globals.h>
#include <libxml/parser.h>
#include <libxml/SAX2.h>
#include <libxml/parserInternals.h>
#include <libxml/tree.h>
#include <libxml/xmlIO.h>
#include <libxml/xmlerror.h>
#include <libxml/xmlschemas.h>
#include <libxml/xpath.h>

#include <cstdarg>
#include <cstdio>
#include <memory>
#include <utility>

#include "icfg/xml_io.h"
#include "istd/convert.h"
#include "istd/exception.h"
#include "istd/trace.h"
#include "istd/ver_info.h"

namespace icfg {

const char* g_versionStr = "version";
const char* g_attMinOccurs = "minOccurs";
const char* g_attMaxOccurs = "maxOccurs";
const char* g_requiredStr = "required";

namespace {

// No network, no external DTD, no entity substitution, no XInclude; libxml2's default limits
// on depth and text size stay in force (no XML_PARSE_HUGE).
constexpr int c_parseOptions = XML_PARSE_NONET;

template <class T, void (*Free)(T*)>
struct Deleter {
    void operator()(T* p) const
    {
        if (p != nullptr) {
            Free(p);
        }
    }
};
using DocPtr = std::unique_ptr<xmlDoc, Deleter<xmlDoc, xmlFreeDoc>>;
using ParserCtxtPtr = std::unique_ptr<xmlParserCtxt, Deleter<xmlParserCtxt, xmlFreeParserCtxt>>;
using XPathContextPtr = std::unique_ptr<xmlXPathContext, Deleter<xmlXPathContext, xmlXPathFreeContext>>;
using XPathObjectPtr = std::unique_ptr<xmlXPathObject, Deleter<xmlXPathObject, xmlXPathFreeObject>>;
using SchemaParserPtr =
    std::unique_ptr<xmlSchemaParserCtxt, Deleter<xmlSchemaParserCtxt, xmlSchemaFreeParserCtxt>>;
using SchemaPtr = std::unique_ptr<xmlSchema, Deleter<xmlSchema, xmlSchemaFree>>;
using SchemaValidPtr = std::unique_ptr<xmlSchemaValidCtxt, Deleter<xmlSchemaValidCtxt, xmlSchemaFreeValidCtxt>>;

void FreeXmlText(xmlChar* text)
{
    xmlFree(text);
}
using XmlText = std::unique_ptr<xmlChar, Deleter<xmlChar, FreeXmlText>>;

const xmlChar* X(const std::string& text)
{
    return reinterpret_cast<const xmlChar*>(text.c_str());
}

std::string S(const xmlChar* text)
{
    return text == nullptr ? std::string() : std::string(reinterpret_cast<const char*>(text));
}

// The text of a node list as xmlNodeListGetString gives it. A list of one text node, what
// nearly every value and attribute is, is read in place rather than through libxml2's copy.
std::string ListText(xmlDocPtr document, xmlNodePtr list)
{
    if (list != nullptr && list->next == nullptr && list->type == XML_TEXT_NODE) {
        return S(list->content);
    }
    XmlText text(xmlNodeListGetString(document, list, 1));
    return S(text.get());
}

std::mutex g_usersMutex;
int g_users = 0;

// A document that declares entities is refused: without substitution their references would
// be expanded later, by every value read and by validation, without libxml2's guards against
// amplification. The parser stops at the first declaration, which it reports with its line.
void RefuseEntityDeclaration(void* context)
{
    auto* parser = static_cast<xmlParserCtxtPtr>(context);
    if (parser->_private == nullptr) {
        parser->_private = parser; // marks the document refused
        xmlGenericError(xmlGenericErrorContext, "line %d: entity declarations are not accepted\n",
                        xmlSAX2GetLineNumber(context));
    }
    xmlStopParser(parser);
}

void EntityDeclaration(void* context, const xmlChar*, int, const xmlChar*, const xmlChar*, xmlChar*)
{
    RefuseEntityDeclaration(context);
}

void UnparsedEntityDeclaration(void* context, const xmlChar*, const xmlChar*, const xmlChar*, const xmlChar*)
{
    RefuseEntityDeclaration(context);
}

// Parses a file as outside input; nullptr (after libxml2's messages) when it is refused.
DocPtr ParseFile(const std::string& fileName)
{
    ParserCtxtPtr parser(xmlNewParserCtxt());
    if (!parser) {
        return DocPtr();
    }
    parser->_private = nullptr;
    parser->sax->entityDecl = EntityDeclaration;
    parser->sax->unparsedEntityDecl = UnparsedEntityDeclaration;
    DocPtr document(xmlCtxtReadFile(parser.get(), fileName.c_str(), nullptr, c_parseOptions));
    // libxml2 keeps a name with an undeclared prefix as a name with a colon; such a document
    // is not well-formed with namespaces, and its names could never be written back.
    if (document && (!parser->nsWellFormed || parser->_private != nullptr)) {
        document.reset();
    }
    return document;
}

} // namespace

void libxml_error_func(void* context, const char* format, ...)
{
    if (context == nullptr || format == nullptr) {
        return;
    }
    char buffer[1024];
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(buffer, sizeof(buffer), format, args);
    va_end(args);
    if (n < 0) {
        return;
    }
    std::string message = buffer;
    while (!message.empty() && (message.back() == '\n' || message.back() == ' ')) {
        message.pop_back();
    }
    auto* owner = static_cast<Configuration*>(context);
    if (!message.empty()) {
        Configuration::ErrorBinding::Record(owner, message);
    }
    owner->ErrorCallback(buffer);
}

std::string Configuration::_ErrorDetail() const
{
    return m_firstError.empty() ? std::string() : " (" + m_firstError + ")";
}

Configuration::Configuration(const std::string& version, const std::string& typesSchemaPath)
    : m_version(version), m_typesSchemaPath(typesSchemaPath)
{
    ISTD_TRACE_FNC("icfg::Configuration::Configuration(const std::string&, const std::string&)");
    if (m_typesSchemaPath.empty()) {
        const istd::VerInfo& ver = istd::VerInfo::GetInstance();
        m_typesSchemaPath = "/opt/kavrel/xsd/" + std::to_string(ver.Major()) + "." +
                            std::to_string(ver.Minor()) + "/types.xsd";
    }
    detail::InstallInputGuard();
}

Configuration::~Configuration()
{
    ISTD_TRACE_FNC("icfg::Configuration::~Configuration()");
    CloseDocument();
    // A binding to this object left on this thread (by code outside the library) goes too.
    if (xmlGenericErrorContext == this) {
        xmlSetGenericErrorFunc(nullptr, nullptr);
    }
}

void Configuration::ErrorCallback(const std::string& message)
{
    ISTD_TRACE(1, "Configuration file error: " << message);
}

std::string Configuration::GetApplicationName()
{
    return "configuration";
}

void Configuration::Initialize()
{
    ISTD_TRACE_FNC("static void icfg::Configuration::Initialize()");
    std::lock_guard<std::mutex> lock(g_usersMutex);
    if (g_users++ == 0) {
        xmlInitParser();
    }
    detail::InstallInputGuard();
}

void Configuration::Cleanup()
{
    ISTD_TRACE_FNC("static void icfg::Configuration::Cleanup()");
    std::lock_guard<std::mutex> lock(g_usersMutex);
    if (g_users > 0 && --g_users == 0) {
        xmlCleanupParser();
    }
}

void Configuration::OpenDocument(const std::string& fileName, bool validate)
{
    ISTD_TRACE_FNC("void icfg::Configuration::OpenDocument(const std::string&, bool)");
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    ErrorBinding binding(this, true);
    CloseDocument();
    ISTD_TRACE(2, "Opening XML file: " << fileName);
    DocPtr document = ParseFile(fileName);
    if (!document) {
        throw istd::Exception("Can't read configuration file: " + fileName + "." + _ErrorDetail(), true);
    }
    m_document = document.release();
    if (validate) {
        try {
            ValidateDocument(fileName);
        } catch (const istd::Exception&) {
            CloseDocument();
            throw;
        }
    }
}

void Configuration::CloseDocument()
{
    ISTD_TRACE_FNC("void icfg::Configuration::CloseDocument()");
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    if (m_document != nullptr) {
        xmlFreeDoc(m_document);
        m_document = nullptr;
    }
}

std::string Configuration::GetSchemaFileName(const std::string& fileName)
{
    ISTD_TRACE_FNC("std::string icfg::Configuration::GetSchemaFileName(const std::string&)");
    const std::string root = "/" + GetApplicationName();
    std::string schema;
    if (!GetAttributeValue(root, "noNamespaceSchemaLocation", schema)) {
        // A schemaLocation holds pairs of namespace and location; its last word is a location.
        std::string pairs;
        if (!GetAttributeValue(root, "schemaLocation", pairs)) {
            return std::string();
        }
        const std::vector<std::string> words = istd::TokenizeString(pairs, " \t\r\n");
        if (words.empty()) {
            return std::string();
        }
        schema = words.back();
    }
    // A relative location is relative to the document, not to the working directory.
    const size_t slash = fileName.rfind('/');
    if (schema.empty() || schema[0] == '/' || schema.find("://") != std::string::npos ||
        slash == std::string::npos) {
        return schema;
    }
    return fileName.substr(0, slash + 1) + schema;
}

void Configuration::ValidateDocument(const std::string& fileName)
{
    ISTD_TRACE_FNC("void icfg::Configuration::ValidateDocument(const std::string&)");
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    ErrorBinding binding(this, true);
    detail::TypesSchemaScope typesSchema(m_typesSchemaPath);
    const std::string schema = GetSchemaFileName(fileName);
    if (schema.empty()) {
        throw istd::Exception("Unable to extract schema file from " + fileName + ".", true);
    }
    DocPtr schemaDocument = ParseFile(schema);
    if (!schemaDocument) {
        throw istd::Exception("Unable to load schema " + schema + "." + _ErrorDetail(), true);
    }
    bool valid = false;
    {
        SchemaParserPtr parser(xmlSchemaNewDocParserCtxt(schemaDocument.get()));
        if (!parser) {
            throw istd::Exception("Unable to create a parser context for the schema " + schema + ".", true);
        }
        xmlSchemaSetParserStructuredErrors(parser.get(), &ErrorBinding::Structured, this);
        SchemaPtr parsed(xmlSchemaParse(parser.get()));
        if (!parsed) {
            throw istd::Exception("The schema is not valid " + schema + "." + _ErrorDetail(), true);
        }
        SchemaValidPtr validation(xmlSchemaNewValidCtxt(parsed.get()));
        if (!validation) {
            throw istd::Exception(
                "Unable to create a validation context for the schema " + schema + ".", true);
        }
        xmlSchemaSetValidStructuredErrors(validation.get(), &ErrorBinding::Structured, this);
        valid = m_document != nullptr && xmlSchemaValidateDoc(validation.get(), m_document) == 0 &&
                xmlSchemaIsValid(validation.get()) == 1;
        // Freed in the order validation context, schema, parser context, schema document.
        validation.reset();
        parsed.reset();
    }
    schemaDocument.reset();
    if (!valid) {
        throw istd::Exception(
            "XML document " + fileName + " is not valid against schema file " + schema + "." + _ErrorDetail(), true);
    }
}

std::string Configuration::GetPath(ISerializable& object)
{
    std::string path;
    const std::string application = GetApplicationName();
    if (!application.empty()) {
        path = "/" + application;
    }
    const std::string className = object.GetClassName();
    if (!className.empty()) {
        path += "/" + className;
    }
    return path;
}

bool Configuration::Read(ISerializable& object)
{
    ISTD_TRACE_FNC("bool icfg::Configuration::Read(icfg::ISerializable&)");
    const std::string path = GetPath(object);
    ElementList elements;
    bool found = false;
    {
        std::lock_guard<std::recursive_mutex> lock(m_mutex);
        ErrorBinding binding(this);
        if (m_document == nullptr || path.empty()) {
            return false;
        }
        XPathContextPtr context(xmlXPathNewContext(m_document));
        XPathObjectPtr result(context ? xmlXPathEvalExpression(X(path), context.get()) : nullptr);
        if (result && result->nodesetval != nullptr && result->nodesetval->nodeNr > 0) {
            found = true;
            for (int i = 0; i < result->nodesetval->nodeNr; ++i) {
                ElementPtr element;
                if (GetXmlNode(m_document, result->nodesetval->nodeTab[i], element)) {
                    elements.push_back(element);
                }
            }
        }
    }
    // An empty list is never handed over: whatever the object answered, nothing was read.
    if (!found || elements.empty()) {
        return false;
    }
    return object.Deserialize(elements);
}

bool Configuration::GetXmlNode(xmlDocPtr document, xmlNodePtr node, ElementPtr& out)
{
    ISTD_TRACE_FNC("bool icfg::Configuration::GetXmlNode(xmlDoc*, xmlNode*, icfg::ElementPtr&)");
    if (node == nullptr || node->type != XML_ELEMENT_NODE) {
        return false;
    }
    ElementPtr element = Element::Create(S(node->name), e_none);
    element->_SetValue(GetXmlNodeValue(document, node));
    GetXmlNodeAttr(node, element);
    // Room for the children at once: a group of a hundred values would otherwise move its list
    // seven times.
    size_t childCount = 0;
    for (xmlNodePtr child = node->children; child != nullptr; child = child->next) {
        childCount += child->type == XML_ELEMENT_NODE ? 1 : 0;
    }
    element->_ReserveChildren(childCount);
    for (xmlNodePtr child = node->children; child != nullptr; child = child->next) {
        ElementPtr childElement;
        if (GetXmlNode(document, child, childElement)) {
            element->AddChild(childElement);
        }
    }
    out = element;
    return true;
}

std::string Configuration::GetXmlNodeValue(xmlDocPtr document, xmlNodePtr node)
{
    if (node->children == nullptr || node->children->type != XML_TEXT_NODE) {
        return std::string();
    }
    return ListText(document, node->children);
}

void Configuration::GetXmlNodeAttr(xmlNodePtr node, const ElementPtr& element)
{
    ISTD_TRACE_FNC("void icfg::Configuration::GetXmlNodeAttr(xmlNode*, const icfg::ElementPtr&)");
    // Each value from its own attribute node (xmlGetProp would look the name up again among all
    // of them), and all taken at once: an element of many attributes reads in linear time.
    size_t count = 0;
    for (xmlAttrPtr attribute = node->properties; attribute != nullptr; attribute = attribute->next) {
        ++count;
    }
    std::vector<AttributePtr> attributes;
    attributes.reserve(count);
    for (xmlAttrPtr attribute = node->properties; attribute != nullptr; attribute = attribute->next) {
        attributes.push_back(Attribute::Create(S(attribute->name), ListText(node->doc, attribute->children), e_none));
    }
    element->_SetAttributes(std::move(attributes));
}

bool Configuration::GetNodeValue(const std::string& xpath, std::string& out)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    return GetValue(false, xpath, std::string(), out);
}

bool Configuration::GetAttributeValue(const std::string& xpath, const std::string& attributeName,
                                      std::string& out)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    return GetValue(true, xpath, attributeName, out);
}

bool Configuration::GetValue(bool isAttribute, const std::string& xpath, const std::string& attributeName,
                             std::string& out)
{
    ISTD_TRACE_FNC("bool icfg::Configuration::GetValue(bool, const std::string&, const std::string&, std::string&)");
    if (m_document != nullptr && !xpath.empty()) {
        ErrorBinding binding(this);
        XPathContextPtr context(xmlXPathNewContext(m_document));
        XPathObjectPtr result(context ? xmlXPathEvalExpression(X(xpath), context.get()) : nullptr);
        if (result && result->nodesetval != nullptr && result->nodesetval->nodeNr == 1) {
            xmlNodePtr node = result->nodesetval->nodeTab[0];
            XmlText text(isAttribute ? xmlGetProp(node, X(attributeName))
                                     : xmlNodeListGetString(m_document, node->children, 1));
            if (text) {
                out = istd::TrimString(S(text.get()));
                return true;
            }
        }
    }
    ISTD_TRACE(1, "Cannot get value for node: " << xpath);
    return false;
}

bool Configuration::GetDocVersion(std::string& out)
{
    return GetAttributeValue("/" + GetApplicationName(), g_versionStr, out);
}

} // namespace icfg

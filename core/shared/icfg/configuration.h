#ifndef ICFG_CONFIGURATION_H
#define ICFG_CONFIGURATION_H

// One XML configuration document: opened and validated against the schema it names, read
// into element trees for serialisable objects, queried by XPath, and written, with a schema
// generated beside it.
//
// Configuration files are outside input. They are parsed without network access, external
// DTDs, entity substitution or XInclude; a document that declares entities, a file that is not
// a regular file, and a file above c_maxFileSize are refused; nesting deeper than libxml2's
// default limit (256) fails the parse.
//
// Writing is atomic: the schema and the document each go to a temporary file in their
// directory, are flushed to disk and then renamed over the old files, so a failed write leaves
// the old files as they were.

#include <cstddef>
#include <mutex>
#include <string>

#include "icfg/element.h"
#include "icfg/icfg_export.h"
#include "icfg/serializable.h"

struct _xmlDoc;
struct _xmlNode;
struct _xmlNs;

namespace icfg {

extern ICFG_API const char* g_versionStr;   // "version"
extern ICFG_API const char* g_attMinOccurs; // "minOccurs"
extern ICFG_API const char* g_attMaxOccurs; // "maxOccurs"
extern ICFG_API const char* g_requiredStr;  // "required"

// The schema file of a configuration file: the extension of the last path component turned
// into ".xsd" (or ".xsd" appended when it has none), in the same directory.
ICFG_API std::string GenerateXsdFileName(const std::string& fileName);

// True when an element of that name with that one attribute, as Configuration::Write writes
// it, can be read back: libxml2 refuses, without its "huge" option, a tag of about 9 MB and
// more, counted with the attribute value as written (with "&lt;", "&#10;" and the like for the
// characters it escapes). Values that fail are refused where they would be written.
ICFG_API bool IsReadableTag(const std::string& elementName, const std::string& attributeName,
                            const std::string& value);

// libxml2's printf-style error function; context is the Configuration whose ErrorCallback
// receives the message, cut to 1023 characters.
ICFG_API void libxml_error_func(void* context, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;

class ICFG_API Configuration {
public:
    // When Write generates the schema; any other value means always.
    enum CreateXsd_e {
        e_xsdAlways = 0,
        e_xsdIfMissing = 1,
        e_xsdNever = 2,
    };

    // Files above this size are refused when opened (documents, schemas and their imports).
    // The bound is set by the schemas this library generates itself: about 340 bytes per
    // persistent registry node (234 for plain values, 336 with one node in five an enumeration
    // of six names), against 32 bytes per node in the document. 512 MiB leaves room for a
    // million nodes with deeper trees or longer enumerations, while a file of gigabytes (which
    // libxml2 would hold in about nine times its size) is still refused unread.
    static constexpr size_t c_maxFileSize = size_t{512} << 20;

    // An empty typesSchemaPath means "/opt/kavrel/xsd/<major>.<minor>/types.xsd". Where that file
    // does not exist, the copy installed with the library stands in for it (said once in the
    // log): generated schemas import the copy, and a stored schema that imports the path is
    // validated against it.
    Configuration(const std::string& version, const std::string& typesSchemaPath);
    Configuration(const Configuration&) = delete;
    Configuration& operator=(const Configuration&) = delete;
    virtual ~Configuration();

    // Receives every libxml2 message raised while this document is opened, validated, read or
    // written, on whatever thread does it, one message a call ("file:line: text" when libxml2
    // knows where). The default traces it at level 1.
    virtual void ErrorCallback(const std::string& message);
    // The root element's name; "configuration" by default.
    virtual std::string GetApplicationName();

    // libxml2's global state. Counted: only the last Cleanup releases it.
    static void Initialize();
    static void Cleanup();

    // Parses fileName (closing any open document) and, when validate is set, validates it;
    // throws istd::Exception naming the file, and then leaves no document open. The text ends
    // with libxml2's first message in parentheses, with its line (and the element, for a
    // schema violation). A file that is not a regular file is refused before it is opened.
    void OpenDocument(const std::string& fileName, bool validate);
    void CloseDocument();
    void ValidateDocument(const std::string& fileName);
    // The schema the open document names, resolved against the document's directory when it
    // is relative; empty when the document names none.
    std::string GetSchemaFileName(const std::string& fileName);

    // Hands the elements at GetPath(object) to object.Deserialize; false when none are found.
    bool Read(ISerializable& object);
    std::string GetPath(ISerializable& object);

    // Trimmed text of the one node xpath selects (or of its attribute); false otherwise.
    bool GetNodeValue(const std::string& xpath, std::string& out);
    bool GetAttributeValue(const std::string& xpath, const std::string& attributeName, std::string& out);
    bool GetValue(bool isAttribute, const std::string& xpath, const std::string& attributeName,
                  std::string& out);
    bool GetDocVersion(std::string& out);

    // Writes the object's elements to fileName and, by mode, the schema beside it. Throws
    // "Cannot store configuration file " + fileName or "Cannot store xsd file " + schema, with
    // ": " and the reason when the file system gave one (or "invalid value" for a tree no valid
    // schema describes); the old files then stay as they were. A file that OpenDocument would refuse by its size (above c_maxFileSize, or a tag or
    // text too long for libxml2) is not written: its error ends in ": it would be too large to
    // be read back". No document is open afterwards.
    void Write(ISerializable& object, const std::string& fileName, CreateXsd_e mode = e_xsdAlways);
    // Whether Write could store fileName now, for a program that wants to know at its start
    // rather than lose its settings at its stop: false, with the reason the failed Write would
    // give ("Permission denied", "No such file or directory", "not a regular file"), when no
    // file can be made beside it or it is no regular file. Writes nothing that stays.
    static bool CanWrite(const std::string& fileName, std::string& reason);

    // Builds the schema of an element list and stores it (atomically) at schemaFileName.
    void GenerateXsd(const std::string& schemaFileName, const std::string& className,
                     const ElementList& elements);

    const std::string& GetVersion() const { return m_version; }
    const std::string& GetTypesSchemaPath() const { return m_typesSchemaPath; }

protected:
    // The steps of Write and Read.
    void NewDocument(const std::string& fileName);
    void CreateXmlNode(_xmlNode* parent, const ElementPtr& element);
    bool GetXmlNode(_xmlDoc* document, _xmlNode* node, ElementPtr& out);
    void GetXmlNodeAttr(_xmlNode* node, const ElementPtr& element);
    std::string GetXmlNodeValue(_xmlDoc* document, _xmlNode* node);

    // The steps of schema generation; they throw "invalid value" for a tree that no valid
    // schema describes.
    void ImportSchema(_xmlNode* schemaRoot, const std::string& typesSchemaPath,
                      const std::string& typesNamespaceUri, const std::string& typesPrefix);
    _xmlNode* CreateXsdNode(_xmlNode* parent, const ElementPtr& element);
    _xmlNode* CreateXsdElementNode(_xmlNode* parent, const std::string& name, DataType_e type,
                                   bool required);
    void CreateXsdNodeAttr(_xmlNode* complexType, const AttributePtr& attribute);
    _xmlNode* CreateXsdNode(_xmlNode* parent, const std::string& name, _xmlNs* ns);
    void CreateXsdAttr(_xmlNode* node, const std::string& name, const std::string& value);

private:
    class ErrorBinding;
    friend void libxml_error_func(void* context, const char* format, ...);

    // " (<first libxml2 message of the operation>)", or "" when there was none.
    std::string _ErrorDetail() const;

    _xmlDoc* _BuildXsd(const ElementList& elements);
    void _CheckText(const std::string& text, const char* what, const std::string& fileName);

    std::string m_version;
    std::string m_typesSchemaPath;
    std::recursive_mutex m_mutex;
    _xmlNs* m_xsNamespace = nullptr;
    _xmlDoc* m_document = nullptr;
    // The first message libxml2 raised in the open or validation under way: "line N: text",
    // "line N, element E: text" for a schema violation, or the text alone. A warning stands in
    // for an error (a missing file is one) until an error comes.
    std::string m_firstError;
    bool m_firstIsWarning = false;
};

} // namespace icfg

#endif

#ifndef ICFG_XML_IO_H
#define ICFG_XML_IO_H

// How the configuration library meets libxml2 and the file system: the guard on every file
// libxml2 loads for it, the binding of libxml2's error channels, and the atomic replacement of
// the files it writes. Internal to the library.

#include <libxml/globals.h>
#include <libxml/xmlerror.h>

#include <cstddef>
#include <string>

#include "icfg/configuration.h"
#include "icfg/icfg_export.h"

namespace icfg {

// Binds libxml2's error channels of the calling thread to a document for one operation and
// restores them afterwards, so that no binding outlives the operation or its document. A fresh
// binding (the start of an open or a validation) forgets the first error of the one before.
class Configuration::ErrorBinding {
public:
    explicit ErrorBinding(Configuration* owner, bool fresh = false);
    ~ErrorBinding();
    ErrorBinding(const ErrorBinding&) = delete;
    ErrorBinding& operator=(const ErrorBinding&) = delete;

    // libxml2's structured error function; context is the Configuration.
    static void Structured(void* context, xmlErrorPtr error);
    // Keeps text as the owner's first error unless it has one (a warning only while it has
    // neither an error nor a warning).
    static void Record(Configuration* owner, const std::string& text, bool warning = false);

private:
    xmlGenericErrorFunc m_generic;
    void* m_genericContext;
    xmlStructuredErrorFunc m_structured;
    void* m_structuredContext;
};

namespace detail {

// Installs (once) the loader through which libxml2 opens every file for this process: network
// schemes, special files and files above Configuration::c_maxFileSize are refused with a
// message on the generic error channel.
ICFG_API void InstallInputGuard();

// The copy of the shared types schema installed with this library ("types.xsd" in the schema
// folder that lies at the same place relative to the library's folder as in an installed tree
// or the build tree); "" when there is none.
ICFG_API std::string InstalledTypesSchema();

// The types schema to use for the one an application named: named itself when it exists, else
// the installed copy when there is one (logged once a process for each name), else named.
ICFG_API std::string TypesSchemaInUse(const std::string& named);

// While it lives, libxml2 reading the named types schema on this thread (the import of a stored
// schema, during validation) reads TypesSchemaInUse(named) instead. The name must outlive it.
class TypesSchemaScope {
public:
    explicit TypesSchemaScope(const std::string& named);
    ~TypesSchemaScope();
    TypesSchemaScope(const TypesSchemaScope&) = delete;
    TypesSchemaScope& operator=(const TypesSchemaScope&) = delete;

private:
    const std::string* m_previous;
};

// True when path may be read: a regular file (after symbolic links) of at most maxSize bytes,
// or a path that does not exist (the reader reports that itself). Otherwise reason says why.
ICFG_API bool CheckInputFile(const std::string& path, size_t maxSize, std::string& reason);

// A file replaced atomically. Save writes the document to a temporary file in the target's
// directory and flushes it to disk; Commit renames it over the target (keeping the old file
// aside until this object goes, so that Rollback can put it back). A symbolic link as target
// is followed: the file it names is replaced. Whatever is left uncommitted is removed.
//
// The side files are named ".<target's name>.tmp.<process id>.<counter>" and
// ".<target's name>.old.<process id>.<counter>". A process killed during a save leaves them
// behind; a successful Commit removes those of its target whose process is gone (or, for this
// process's own id, that none of its writers holds), and no other file.
class ICFG_API PendingFile {
public:
    explicit PendingFile(const std::string& target);
    ~PendingFile();
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;

    // False too, with TooLarge, for a document that the reader would refuse: above maxSize
    // bytes, or with a tag or text too long for libxml2.
    bool Save(_xmlDoc* document, size_t maxSize = Configuration::c_maxFileSize);
    bool TooLarge() const { return m_tooLarge; }
    bool Commit();
    // Whether Save could begin now: the target is a regular file or none, and a temporary file
    // can be made beside it (it is removed again at once).
    bool Probe();
    // Why the last Save, Commit or Probe failed ("Permission denied", "not a regular file",
    // "it would be too large to be read back"); empty when it did not.
    const std::string& Error() const { return m_error; }
    // Undoes a Commit: the old file is back, or the new one gone when there was none.
    void Rollback();

private:
    // Makes m_temp; its descriptor, or -1 with m_error set.
    int _CreateTemp();
    void _Discard(std::string& path);
    void _SyncDirectory();
    void _RemoveStaleSideFiles();

    std::string m_target;
    std::string m_directory;
    std::string m_temp;
    std::string m_backup;
    std::string m_error;
    bool m_usable = true;
    bool m_existed = false;
    bool m_committed = false;
    bool m_tooLarge = false;
    unsigned m_mode = 0;
    unsigned m_uid = 0;
    unsigned m_gid = 0;
};

} // namespace detail
} // namespace icfg

#endif

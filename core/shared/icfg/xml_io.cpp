#include "icfg/xml_io.h"

#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <libxml/encoding.h>
#include <libxml/parser.h>
#include <libxml/parserInternals.h>
#include <libxml/uri.h>
#include <libxml/xmlIO.h>
#include <libxml/xmlsave.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>

#include "istd/log.h"
#include "istd/trace.h"

namespace icfg {

Configuration::ErrorBinding::ErrorBinding(Configuration* owner, bool fresh)
    : m_generic(xmlGenericError),
      m_genericContext(xmlGenericErrorContext),
      m_structured(xmlStructuredError),
      m_structuredContext(xmlStructuredErrorContext)
{
    detail::InstallInputGuard();
    if (fresh) {
        owner->m_firstError.clear();
        owner->m_firstIsWarning = false;
    }
    xmlSetStructuredErrorFunc(owner, &ErrorBinding::Structured);
    xmlSetGenericErrorFunc(owner, libxml_error_func);
}

Configuration::ErrorBinding::~ErrorBinding()
{
    xmlSetGenericErrorFunc(m_genericContext, m_generic);
    xmlSetStructuredErrorFunc(m_structuredContext, m_structured);
}

void Configuration::ErrorBinding::Record(Configuration* owner, const std::string& text, bool warning)
{
    if (owner->m_firstError.empty() || (owner->m_firstIsWarning && !warning)) {
        owner->m_firstError = text;
        owner->m_firstIsWarning = warning;
    }
}

void Configuration::ErrorBinding::Structured(void* context, xmlErrorPtr error)
{
    if (context == nullptr || error == nullptr || error->level == XML_ERR_NONE) {
        return;
    }
    std::string message = error->message != nullptr ? error->message : "unknown error";
    while (!message.empty() && (message.back() == '\n' || message.back() == ' ')) {
        message.pop_back();
    }
    std::string where;
    if (error->line > 0) {
        where = "line " + std::to_string(error->line);
    }
    const auto* node = static_cast<const xmlNode*>(error->node);
    if (error->domain == XML_FROM_SCHEMASV && node != nullptr && node->type == XML_ELEMENT_NODE &&
        node->name != nullptr) {
        where += (where.empty() ? "" : ", ") + std::string("element ") + reinterpret_cast<const char*>(node->name);
    }
    // Cut like the messages of the generic channel, so that a name of megabytes quoted in a
    // message does not travel on in every text made of it.
    constexpr size_t c_maxMessage = 1023;
    message.resize(std::min(message.size(), c_maxMessage));
    auto* owner = static_cast<Configuration*>(context);
    const std::string text = where.empty() ? message : where + ": " + message;
    Record(owner, text.substr(0, c_maxMessage), error->level == XML_ERR_WARNING);
    std::string line;
    if (error->file != nullptr) {
        line = std::string(error->file) + ":" + (error->line > 0 ? std::to_string(error->line) + ":" : "") + " ";
    } else if (!where.empty()) {
        line = where + ": ";
    }
    owner->ErrorCallback((line + message).substr(0, c_maxMessage));
}

namespace detail {
namespace {
// libxml2 refuses, without XML_PARSE_HUGE, a text or a tag (with its escaped attribute values)
// of XML_MAX_TEXT_LENGTH bytes, counting with the tag what it still holds of the input before
// it (a few kilobytes at most).
constexpr size_t c_maxMarkupRun = XML_MAX_TEXT_LENGTH - 1000000;
} // namespace
} // namespace detail

bool IsReadableTag(const std::string& elementName, const std::string& attributeName, const std::string& value)
{
    // As the writer counts it: the bytes after the '<' of <name attribute="value"/> up to the '>'.
    size_t length = elementName.size() + attributeName.size() + 5;
    for (const char c : value) {
        switch (c) {
        case '<':
        case '>':
            length += 4; // &lt; &gt;
            break;
        case '&':
        case '\n':
        case '\r':
            length += 5; // &amp; &#10; &#13;
            break;
        case '"':
            length += 6; // &quot;
            break;
        case '\t':
            length += 4; // &#9;
            break;
        default:
            length += 1;
            break;
        }
    }
    return length <= detail::c_maxMarkupRun;
}

namespace detail {

namespace {

std::string DirectoryOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

std::string BaseOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The side files of this process that its writers hold now, by file name. Another writer
// of the same target leaves them alone when it sweeps stale ones away.
std::mutex g_sideMutex;
std::set<std::string> g_sideFiles;

const char* const c_sideKinds[] = {"tmp", "old"};

std::string PathIn(const std::string& dir, const std::string& name)
{
    return (dir == "/" ? std::string() : dir) + "/" + name;
}

// A name beside target that no other writer (thread or process) uses at the same time:
// ".<target's name>.<kind>.<process id>.<counter>". It is held until Forget.
std::string SideName(const std::string& target, const char* kind)
{
    static std::atomic<unsigned> counter{0};
    const std::string name = "." + BaseOf(target) + "." + kind + "." + std::to_string(getpid()) + "." +
                             std::to_string(counter.fetch_add(1));
    std::lock_guard<std::mutex> lock(g_sideMutex);
    g_sideFiles.insert(name);
    return PathIn(DirectoryOf(target), name);
}

void Forget(std::string& path)
{
    if (!path.empty()) {
        std::lock_guard<std::mutex> lock(g_sideMutex);
        g_sideFiles.erase(BaseOf(path));
        path.clear();
    }
}

// Reads a number as SideName writes it (decimal, no sign, no leading zero) at text[pos],
// up to the end or a dot; false when there is none or it exceeds max.
bool ReadNumber(const std::string& text, size_t& pos, unsigned long max, unsigned long& value)
{
    const size_t start = pos;
    value = 0;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
        value = value * 10 + static_cast<unsigned long>(text[pos] - '0');
        if (value > max) {
            return false;
        }
        ++pos;
    }
    return pos > start && (text[start] != '0' || pos == start + 1);
}

// True when name is one that SideName gives beside a target called base; pid is its writer.
bool IsSideName(const std::string& name, const std::string& base, pid_t& pid)
{
    const std::string prefix = "." + base + ".";
    if (name.compare(0, prefix.size(), prefix) != 0) {
        return false;
    }
    for (const char* kind : c_sideKinds) {
        const std::string head = prefix + kind + ".";
        size_t pos = head.size();
        unsigned long process = 0;
        unsigned long counter = 0;
        if (name.compare(0, head.size(), head) == 0 && ReadNumber(name, pos, INT_MAX, process) &&
            pos < name.size() && name[pos++] == '.' && ReadNumber(name, pos, UINT_MAX, counter) &&
            pos == name.size()) {
            pid = static_cast<pid_t>(process);
            return true;
        }
    }
    return false;
}

// A side file whose writer is gone: a process that no longer runs, or this one (an earlier
// process with the same id) when none of its writers holds the name.
bool IsStale(const std::string& name, pid_t pid)
{
    if (pid == getpid()) {
        std::lock_guard<std::mutex> lock(g_sideMutex);
        return g_sideFiles.count(name) == 0;
    }
    return kill(pid, 0) != 0 && errno == ESRCH;
}

// Where WriteAll puts a document, and how much of it: no more than the reader takes back.
struct Output {
    int fd;
    size_t limit;
    size_t written = 0;
    size_t run = 0; // bytes since the last '<' or '>', which appear escaped in text and values
    bool tooLarge = false;
};

// Of two places found in one buffer (null when not found), the first or the last.
const char* Pick(const void* a, const void* b, bool last)
{
    if (a == nullptr || b == nullptr) {
        return static_cast<const char*>(a == nullptr ? b : a);
    }
    return static_cast<const char*>(last ? std::max(a, b) : std::min(a, b));
}

// Follows the run of bytes since the last '<' or '>' over buffer; false when it grows too
// long. Only a buffer longer than the limit can hold a long run between two delimiters.
bool CountRun(Output& output, const char* buffer, size_t size)
{
    if (size > c_maxMarkupRun) {
        for (size_t i = 0; i < size; ++i) {
            output.run = buffer[i] == '<' || buffer[i] == '>' ? 0 : output.run + 1;
            if (output.run > c_maxMarkupRun) {
                return false;
            }
        }
        return true;
    }
    const char* first = Pick(std::memchr(buffer, '<', size), std::memchr(buffer, '>', size), false);
    if (first == nullptr) {
        output.run += size;
        return output.run <= c_maxMarkupRun;
    }
    if (output.run + static_cast<size_t>(first - buffer) > c_maxMarkupRun) {
        return false;
    }
    const char* last = Pick(memrchr(buffer, '<', size), memrchr(buffer, '>', size), true);
    output.run = static_cast<size_t>(buffer + size - last - 1);
    return true;
}

// libxml2's own file output takes a short write for a whole one and loses the rest (a disk
// that fills up gives short writes before it gives errors); this one writes all or fails. It
// fails too, before it writes them, for bytes that would make the file unreadable: beyond the
// limit, or a tag or text too long for the reader.
int WriteAll(void* context, const char* buffer, int length)
{
    Output& output = *static_cast<Output*>(context);
    const size_t size = static_cast<size_t>(length);
    if (size > output.limit - output.written || !CountRun(output, buffer, size)) {
        output.tooLarge = true;
        return -1;
    }
    output.written += size;
    const int fd = output.fd;
    int done = 0;
    while (done < length) {
        const ssize_t n = write(fd, buffer + done, static_cast<size_t>(length - done));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return -1;
        }
        done += static_cast<int>(n);
    }
    return length;
}

} // namespace

namespace {

struct FdInput {
    int fd;
};

int ReadFd(void* context, char* buffer, int length)
{
    ssize_t n = 0;
    do {
        n = read(static_cast<FdInput*>(context)->fd, buffer, static_cast<size_t>(length));
    } while (n < 0 && errno == EINTR);
    return n < 0 ? -1 : static_cast<int>(n);
}

int CloseFd(void* context)
{
    auto* input = static_cast<FdInput*>(context);
    close(input->fd);
    delete input;
    return 0;
}

// Opens a local file for libxml2 once CheckInputFile accepted its path. The descriptor is
// opened without blocking and checked again, so that a file swapped for a FIFO or a device
// meanwhile is refused too; reason says why when it is.
xmlParserInputPtr OpenChecked(const std::string& path, const char* url, xmlParserCtxtPtr context,
                              std::string& reason)
{
    struct stat named {};
    if (stat(path.c_str(), &named) != 0) {
        return nullptr;
    }
    int fd = -1;
    do {
        fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        reason = path + ": " + std::strerror(errno);
        return nullptr;
    }
    struct stat opened {};
    if (fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode) || opened.st_dev != named.st_dev ||
        opened.st_ino != named.st_ino) {
        close(fd);
        reason = path + " is not a regular file";
        return nullptr;
    }
    const int flags = fcntl(fd, F_GETFL);
    if (flags >= 0) {
        fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    }
    auto* source = new FdInput{fd};
    xmlParserInputBufferPtr buffer = xmlParserInputBufferCreateIO(ReadFd, CloseFd, source, XML_CHAR_ENCODING_NONE);
    if (buffer == nullptr) {
        CloseFd(source);
        return nullptr;
    }
    xmlParserInputPtr input = xmlNewIOInputStream(context, buffer, XML_CHAR_ENCODING_NONE);
    if (input == nullptr) {
        xmlFreeParserInputBuffer(buffer);
        return nullptr;
    }
    // The name the document's base and libxml2's messages go by.
    input->filename = reinterpret_cast<char*>(xmlCanonicPath(reinterpret_cast<const xmlChar*>(url)));
    if (context != nullptr && context->directory == nullptr) {
        context->directory = xmlParserGetDirectory(path.c_str());
    }
    return input;
}

// The types schema that the document under validation on this thread names (TypesSchemaScope).
thread_local const std::string* t_namedTypesSchema = nullptr;

bool IsRegularFile(const std::string& path)
{
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// The folder of the object that holds this code (the library), with links resolved.
std::string LibraryFolder()
{
    static const char anchor = 0;
    Dl_info info{};
    if (dladdr(&anchor, &info) == 0 || info.dli_fname == nullptr) {
        return std::string();
    }
    char resolved[PATH_MAX];
    return realpath(info.dli_fname, resolved) != nullptr ? DirectoryOf(resolved) : std::string();
}

} // namespace

std::string InstalledTypesSchema()
{
    static const std::string copy = [] {
        const std::string folder = LibraryFolder();
        char resolved[PATH_MAX];
        const std::string path = folder + "/" ICFG_SCHEMA_FROM_LIBDIR "/types.xsd";
        return !folder.empty() && realpath(path.c_str(), resolved) != nullptr ? std::string(resolved)
                                                                               : std::string();
    }();
    return IsRegularFile(copy) ? copy : std::string();
}

std::string TypesSchemaInUse(const std::string& named)
{
    if (IsRegularFile(named)) {
        return named;
    }
    const std::string copy = InstalledTypesSchema();
    if (copy.empty()) {
        return named;
    }
    static std::mutex mutex;
    static std::set<std::string> reported;
    bool first = false;
    {
        std::lock_guard<std::mutex> lock(mutex);
        first = reported.insert(named).second;
    }
    if (first) {
        istd::LogInfo("icfg: the types schema " + named + " does not exist; using " + copy +
                      ", installed with the library");
    }
    return copy;
}

TypesSchemaScope::TypesSchemaScope(const std::string& named) : m_previous(t_namedTypesSchema)
{
    t_namedTypesSchema = &named;
}

TypesSchemaScope::~TypesSchemaScope()
{
    t_namedTypesSchema = m_previous;
}

xmlParserInputPtr GuardedLoader(const char* url, const char* id, xmlParserCtxtPtr context)
{
    if (url != nullptr) {
        std::string path = url;
        if (path.compare(0, 7, "file://") == 0) {
            path.erase(0, 7);
        }
        // A stored schema that imports the types schema its document's owner names reads the
        // copy in use when that one is missing (an install without /opt, say).
        std::string name = url;
        if (t_namedTypesSchema != nullptr && path == *t_namedTypesSchema) {
            path = TypesSchemaInUse(path);
            name = path;
        }
        std::string reason;
        if (path.find("://") != std::string::npos) {
            reason = std::string(url) + " is not a local file";
        } else if (CheckInputFile(path, Configuration::c_maxFileSize, reason)) {
            if (xmlParserInputPtr input = OpenChecked(path, name.c_str(), context, reason)) {
                return input;
            }
        }
        if (!reason.empty()) {
            xmlGenericError(xmlGenericErrorContext, "%s\n", reason.c_str());
            return nullptr;
        }
    }
    // A file that does not exist: libxml2 says so itself.
    return xmlNoNetExternalEntityLoader(url, id, context);
}

void InstallInputGuard()
{
    static std::once_flag once;
    std::call_once(once, [] {
        xmlInitParser();
        xmlSetExternalEntityLoader(GuardedLoader);
    });
}

bool CheckInputFile(const std::string& path, size_t maxSize, std::string& reason)
{
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) {
        return true;
    }
    if (!S_ISREG(st.st_mode)) {
        reason = path + " is not a regular file";
        return false;
    }
    if (static_cast<unsigned long long>(st.st_size) > maxSize) {
        reason = path + " is larger than " + std::to_string(maxSize) + " bytes";
        return false;
    }
    return true;
}

PendingFile::PendingFile(const std::string& target) : m_target(target)
{
    struct stat st {};
    if (lstat(m_target.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        char resolved[PATH_MAX];
        if (realpath(m_target.c_str(), resolved) != nullptr) {
            m_target = resolved;
        }
    }
    if (stat(m_target.c_str(), &st) == 0) {
        m_existed = true;
        m_usable = S_ISREG(st.st_mode);
        m_mode = st.st_mode & 07777;
        m_uid = st.st_uid;
        m_gid = st.st_gid;
    }
    m_directory = DirectoryOf(m_target);
}

PendingFile::~PendingFile()
{
    _Discard(m_temp);
    _Discard(m_backup);
}

void PendingFile::_Discard(std::string& path)
{
    if (!path.empty()) {
        unlink(path.c_str());
        Forget(path);
    }
}

void PendingFile::_RemoveStaleSideFiles()
{
    ISTD_TRACE_FNC("void icfg::detail::PendingFile::_RemoveStaleSideFiles()");
    DIR* dir = opendir(m_directory.c_str());
    if (dir == nullptr) {
        return;
    }
    const std::string base = BaseOf(m_target);
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        pid_t pid = 0;
        if (!IsSideName(name, base, pid) || !IsStale(name, pid)) {
            continue;
        }
        const std::string path = PathIn(m_directory, name);
        struct stat st {};
        if (lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && unlink(path.c_str()) == 0) {
            ISTD_TRACE(2, "Removed " << path << ", left behind by an interrupted save");
        }
    }
    closedir(dir);
}

int PendingFile::_CreateTemp()
{
    m_error.clear();
    if (!m_usable) {
        m_error = "not a regular file";
        return -1;
    }
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        m_temp = SideName(m_target, "tmp");
        fd = open(m_temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
        if (fd < 0) {
            const int error = errno;
            Forget(m_temp);
            m_temp.clear();
            errno = error;
            if (error != EEXIST) {
                break;
            }
        }
    }
    if (fd < 0) {
        m_error = std::strerror(errno);
        ISTD_TRACE(1, "Cannot create a temporary file beside " << m_target << ": " << m_error);
    }
    return fd;
}

bool PendingFile::Probe()
{
    ISTD_TRACE_FNC("bool icfg::detail::PendingFile::Probe()");
    if (!m_temp.empty() || m_committed) {
        return true; // a save is under way
    }
    const int fd = _CreateTemp();
    if (fd < 0) {
        return false;
    }
    close(fd);
    _Discard(m_temp);
    return true;
}

bool PendingFile::Save(_xmlDoc* document, size_t maxSize)
{
    ISTD_TRACE_FNC("bool icfg::detail::PendingFile::Save(xmlDoc*, size_t)");
    if (!m_temp.empty() || m_committed) {
        return false;
    }
    const int fd = _CreateTemp();
    if (fd < 0) {
        return false;
    }
    if (m_existed) {
        // The new file keeps the old one's permissions (and, where allowed, its owner).
        if (fchmod(fd, m_mode) != 0 || (fchown(fd, m_uid, m_gid) != 0 && errno != EPERM)) {
            ISTD_TRACE(2, "Cannot copy the permissions of " << m_target << ": " << std::strerror(errno));
        }
    }
    Output output{fd, maxSize};
    xmlOutputBufferPtr out = xmlOutputBufferCreateIO(WriteAll, nullptr, &output, xmlFindCharEncodingHandler("UTF-8"));
    errno = 0;
    bool ok = out != nullptr && xmlSaveFormatFileTo(out, document, "UTF-8", 1) >= 0 && !output.tooLarge;
    int error = ok ? 0 : errno; // the first step that failed says why
    if (fsync(fd) != 0 && ok) {
        error = errno;
        ok = false;
    }
    if (close(fd) != 0 && ok) {
        error = errno;
        ok = false;
    }
    m_tooLarge = output.tooLarge;
    if (m_tooLarge) {
        m_error = "it would be too large to be read back";
        ISTD_TRACE(1, "Not written: " << m_target << " would be too large to be read back");
    } else if (!ok) {
        m_error = error != 0 ? std::strerror(error) : "the document could not be written";
        ISTD_TRACE(1, "Cannot write " << m_temp << ": " << m_error);
    }
    if (!ok) {
        _Discard(m_temp);
    }
    return ok;
}

bool PendingFile::Commit()
{
    ISTD_TRACE_FNC("bool icfg::detail::PendingFile::Commit()");
    if (m_temp.empty() || m_committed) {
        return false;
    }
    if (m_existed) {
        // A second name for the old file, so that Rollback can restore it; without one (a
        // file system without hard links) a rollback cannot bring it back.
        std::string backup = SideName(m_target, "old");
        if (link(m_target.c_str(), backup.c_str()) == 0) {
            m_backup = backup;
        } else {
            Forget(backup);
        }
    }
    if (rename(m_temp.c_str(), m_target.c_str()) != 0) {
        m_error = std::strerror(errno);
        ISTD_TRACE(1, "Cannot rename " << m_temp << " to " << m_target << ": " << m_error);
        _Discard(m_backup);
        return false;
    }
    Forget(m_temp);
    m_committed = true;
    _SyncDirectory();
    // Side files of this target that a killed writer left are swept away by the next save
    // that succeeds, so that they cannot pile up.
    _RemoveStaleSideFiles();
    return true;
}

void PendingFile::Rollback()
{
    ISTD_TRACE_FNC("void icfg::detail::PendingFile::Rollback()");
    if (!m_committed) {
        return;
    }
    if (!m_backup.empty()) {
        if (rename(m_backup.c_str(), m_target.c_str()) == 0) {
            Forget(m_backup);
        }
    } else if (!m_existed) {
        unlink(m_target.c_str());
    }
    m_committed = false;
    _SyncDirectory();
}

void PendingFile::_SyncDirectory()
{
    const int fd = open(m_directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        if (fsync(fd) != 0) {
            ISTD_TRACE(2, "Cannot flush directory " << m_directory << ": " << std::strerror(errno));
        }
        close(fd);
    }
}

} // namespace detail
} // namespace icfg

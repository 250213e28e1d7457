#ifndef REGCLIENT_REGISTRY_CLIENT_H
#define REGCLIENT_REGISTRY_CLIENT_H

// A remote registry seen from the command line: connects to an application servant, asks it for
// this client's remote node (with a Notification object of its own for the changes it watches)
// and turns the node's operations into lines of text.
//
// Paths are written "/" (the root), "/settings/count" or "settings/count". CORBA refusals pass
// out of every operation as they are; Describe() turns them into text.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

#include "inet/i_net.hh"

namespace regclient {

// The path as the remote node takes it: one name per level ("" and "/" are the root).
i_NET::NodePath ToNodePath(const std::string& path);
// "/a/b"; "/" for the root.
std::string PathText(const i_NET::NodeNames& path);
// "int32", "enum", "-" for a node without value, "type <n>" for a code without a name.
std::string TypeName(CORBA::Long type);
// One letter per flag in a fixed place, '-' when it is not set: r readable, w writable,
// p persistent, c constant, h hidden, x command, a array, s signal.
std::string FlagsText(uint64_t flags);
// The text of an exception the remote node raised ("ValueException: ...").
std::string Describe(const CORBA::Exception& e);

// Prints change notifications as "<path> = <value>" ("<path>[<position>] = <value>" for a
// position other than 0), one line each, flushed.
class Watcher : public POA_i_NET::Notification {
public:
    explicit Watcher(std::ostream& out) : m_out(out) {}
    void Emit(const i_NET::NotificationData& data) override;
    // Prints a line of its own between the notifications.
    void Print(const std::string& line);
    size_t Count() const { return m_count.load(); }

private:
    std::ostream& m_out;
    std::mutex m_mutex; // m_out
    std::atomic<size_t> m_count{0};
};

class RegistryClient {
public:
    // Connects to the application at the corbaloc address and gets this client's remote node.
    // The ORB must be initialised. Throws CORBA exceptions (e.g. TRANSIENT when nobody serves).
    RegistryClient(const std::string& address, std::ostream& out);
    // Releases the remote node (quietly, also when the server is gone).
    ~RegistryClient();

    RegistryClient(const RegistryClient&) = delete;
    RegistryClient& operator=(const RegistryClient&) = delete;

    // The node and its subtree, one line per node: path, type (with [size] for an array), flags
    // and the value (the first 16 elements of a larger array).
    void List(const std::string& path);
    // "<path> = <value>": the value at pos, or the slice pos..pos+count of an array (count 0:
    // to its end). Enumerations by name.
    void Get(const std::string& path, uint32_t pos, uint32_t count);
    // Writes the values (one per element from pos) as the node's type; enumerations by name or
    // number. Then prints the node as Get does. A value that is no value of the type throws
    // std::invalid_argument.
    void Set(const std::string& path, const std::vector<std::string>& values, uint32_t pos);
    // Name, type, size, flags, value, validator, domain values and children.
    void Info(const std::string& path);
    // Subscribes to every path ("watching <path>"), then prints the notifications until `stop`
    // answers true (asked every 100 ms). A refused subscription throws std::runtime_error, and
    // nothing is watched then.
    void Watch(const std::vector<std::string>& paths, const std::function<bool(size_t notifications)>& stop);

private:
    // The value as text; "" for a node that cannot be read, "<text>" for a read that failed.
    std::string _ValueText(const i_NET::NodePath& path, CORBA::Long type, uint64_t flags, uint32_t pos,
                           uint32_t count);
    void _ListNode(const i_NET::NodePath& path, std::vector<std::vector<std::string>>& rows);

    std::ostream& m_out;
    i_NET::Application_var m_app;
    Watcher* m_watcher = nullptr; // owned by the ORB
    i_NET::Notification_var m_callback;
    i_NET::RemoteNode_var m_node;
};

} // namespace regclient

#endif

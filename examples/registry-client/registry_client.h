#ifndef REGCLIENT_REGISTRY_CLIENT_H
#define REGCLIENT_REGISTRY_CLIENT_H

// A remote registry seen from the command line: connects to an application servant, asks it for
// this client's remote node (with a Notification object of its own for the changes it watches)
// and turns the node's operations into lines of text.
//
// Paths are written "/" (the root), "/settings/count" or "settings/count". The node's refusals
// (CORBA user exceptions) and the ORB's failures pass out of every operation as they are (get
// and set add to a refusal what the command needs to be mended: the node's size, an
// enumeration's names); Reason() and ConnectionFailure() turn them into text. Values that are no values of the node
// throw std::invalid_argument, requests the node cannot take (a watch of a node without a value,
// exec of a node that is no command) Refused, before anything is sent.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "inet/i_net.hh"

namespace regclient {

// Where the server is: corbaloc::<host>:<port>/<id>.
struct Address {
    std::string host;
    unsigned port = 0;
    std::string id;

    std::string Corbaloc() const;
};

// The server cannot be reached, or is not what the address names; the text says what happened
// and what to check.
class ConnectionError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The server went away while watch or stream waited: it stopped, died, or no longer knows
// this client's node. "lost the connection to <corbaloc>".
class ConnectionLost : public std::runtime_error {
public:
    explicit ConnectionLost(const Address& address);
};

// A request that the node cannot take, found before it is sent.
class Refused : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The path as the remote node takes it: one name per level ("" and "/" are the root).
i_NET::NodePath ToNodePath(const std::string& path);
// "/a/b"; "/" for the root.
std::string PathText(const i_NET::NodeNames& path);
// "int32", "enum", "-" for a node without value, "type <n>" for a code without a name.
std::string TypeName(CORBA::Long type);
// One letter per flag in a fixed place, '-' when it is not set: r readable, w writable,
// p persistent, c constant, h hidden, x command, a array, s signal.
std::string FlagsText(uint64_t flags);
// The texts of set as the value of a node of the type (a value-type code): the i_NET buffer of
// the type; strings for strings, enumerations (the node takes names and numbers) and other
// codes. A text that is no value of the type throws std::invalid_argument.
CORBA::Any ToValue(const std::vector<std::string>& texts, CORBA::Long type);
// The numbers of an enumeration's notification or value: one or a sequence of them, of 32 or
// 64 bits (a value read as long, a notification as the registry emits it); `scalar` tells
// which. None for any other value, and for one whose bytes do not make what it says.
std::vector<int64_t> Numbers(const CORBA::Any& value, bool* scalar = nullptr);
// The texts of an enumeration's value read as strings: one or a sequence; none for any other
// value, and for one whose bytes do not make what it says.
std::vector<std::string> Texts(const CORBA::Any& value);
// The reason of a refusal of the node at path as the user reads it: the node's message without
// the exception's name and the layers' prefixes ("Validation failed: [0, 100] for 500" for
// "ireg: count: Validation failed: [0, 100] for 500"); for the ORB's failures their name.
std::string Reason(const CORBA::Exception& e, const std::string& path);
// What a failed call to the server at the address means: "cannot connect to <corbaloc>:
// connection refused (is registry-server running on that port?)", "no answer from <host>:<port>
// within <n> s", "no object '<id>' at ...".
std::string ConnectionFailure(const CORBA::SystemException& e, const Address& address);

// Prints change notifications as "<path> = <value>" ("<path>[<position>] = <value>" for a
// position other than 0), one line each, flushed. Enumerations are printed by name, as get
// prints them, although their notifications carry numbers: the names of the numbers are read
// from the node (as its value read by name and by number) when first met.
class Watcher : public POA_i_NET::Notification {
public:
    explicit Watcher(std::ostream& out) : m_out(out) {}
    void Emit(const i_NET::NotificationData& data) override;
    // Prints a line of its own between the notifications.
    void Print(const std::string& line);
    size_t Count() const { return m_count.load(); }
    // The path names an enumeration node of the remote node (kept until the watcher goes):
    // learns the names of the numbers it holds now.
    void WatchEnumeration(i_NET::RemoteNode_ptr node, const i_NET::NodePath& path);

private:
    using Names = std::map<int64_t, std::string>;

    // The node's values from pos: numbers and names, pairwise into names.
    void _Learn(const i_NET::NodePath& path, CORBA::ULong pos, CORBA::ULong count, Names& names);
    std::string _EnumerationText(const i_NET::NotificationData& data, Names& names);

    std::ostream& m_out;
    std::mutex m_mutex; // m_out, m_enumerations
    std::atomic<size_t> m_count{0};
    i_NET::RemoteNode_var m_node;
    std::map<std::string, Names> m_enumerations; // by path text
};

// What a stream delivered, and how it ended.
struct StreamResult {
    uint64_t atoms = 0; // atoms received (also those beyond the count, which are not printed)
    uint64_t calls = 0; // Receive calls
    bool closed = false; // the server ended the connection
    int closeCode = 0;   // its isig::SuccessCode_e, when closed
};

// "name(code)" for a signal's result code: "terminated(-5)", "code(-7)" for one without a name.
std::string SignalCodeText(int code);

// A signal's receiver: prints every atom as one line "<component>=<value> ..." (up to a limit),
// counts atoms and calls, and keeps the code that closed it. Values of another type than the
// signal's, or whose bytes do not make one, count as a call and are shown as one line "<...>"
// ("<<invalid value>>"), and the stream goes on.
class AtomPrinter : public POA_i_NET::SignalReceiver {
public:
    // components: names in atom order; atomType: the signal's isig::AtomType_e; limit: atoms to
    // print at most (0: all).
    AtomPrinter(std::ostream& out, std::vector<std::string> components, CORBA::Long atomType, uint64_t limit);

    void Receive(const CORBA::Any& values, const i_NET::SignalMeta& meta) override;
    void Closed(CORBA::Long code) override;

    // Prints the line between two atoms' lines (nothing once finished).
    void Note(const std::string& text);
    // Waits up to `wait` until the limit is reached or the signal closed; the state then.
    StreamResult Wait(std::chrono::milliseconds wait);
    // Prints nothing more and takes no more atoms or close into account; the final state.
    StreamResult Finish();

private:
    template <class SEQ, class T = void>
    bool _Print(const CORBA::Any& values);
    void _Line(const std::vector<std::string>& texts);

    std::ostream& m_out;
    const std::vector<std::string> m_components;
    const CORBA::Long m_atomType;
    const uint64_t m_limit;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    StreamResult m_result;
    bool m_finished = false;
};

class RegistryClient {
public:
    // How often watch and stream make sure that the server is still there, by default.
    static constexpr std::chrono::seconds c_checkPeriod{2};

    // Connects to the application at the address and gets this client's remote node. The ORB
    // must be initialised. Throws ConnectionError when it cannot (also when what answers on the
    // port does not speak GIOP).
    RegistryClient(const Address& address, std::ostream& out);
    // Releases the remote node (quietly, also when the server is gone; not at all once a
    // check found it gone).
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
    // number. Then prints the node as Get does. A value that is no value of the type, or a
    // name the enumeration does not have (the text lists those it has), throws
    // std::invalid_argument.
    void Set(const std::string& path, const std::vector<std::string>& values, uint32_t pos);
    // Runs a command node: "<path> executed". Refused for a node that is no command.
    void Exec(const std::string& path);
    // Name, type, size, flags, value, validator, domain values and children.
    void Info(const std::string& path);
    // While watch and stream wait, they ask the server every `period` for the root's name (0:
    // never). A call that fails because the server or this client's node is gone (the
    // connection closed or refused, no answer within the ORB's call time-out, the node unknown)
    // ends them with ConnectionLost; any answer, a refusal too, means it is there. A killed or
    // stopped server is so noticed within the period.
    void SetCheckPeriod(std::chrono::milliseconds period) { m_checkPeriod = period; }

    // Subscribes to every path ("watching <path>"), then prints the notifications until `stop`
    // answers true (asked every 100 ms) or the server is gone (ConnectionLost). A node without
    // a value, or a refused subscription, throws Refused, and nothing is watched then.
    void Watch(const std::vector<std::string>& paths, const std::function<bool(size_t notifications)>& stop);
    // Reads the signal of the signal node at path: prints its description (name, owner, atom
    // size, group size, components, atom type), connects a receiver of its own with a queue of
    // queueLength buffers at the server (0: the server's default) and says so ("connected as
    // registry-client-<pid>", its name at the server), prints one line per atom
    // until `count` atoms arrived (0: no limit), the server closed the signal, or `stop`
    // answers true (asked every 100 ms), or the server is gone without closing it
    // (ConnectionLost, nothing more printed); then disconnects and prints the statistics: atoms and
    // calls received, and the server's items (the device, this client's queue). Refused for a
    // node that is no signal, or a connection the server refuses.
    StreamResult Stream(const std::string& path, uint64_t count, uint32_t queueLength,
                        const std::function<bool()>& stop);

private:
    // The value as text; "" for a node that cannot be read, "<text>" for a read that failed.
    std::string _ValueText(const i_NET::NodePath& path, CORBA::Long type, uint64_t flags, uint32_t pos,
                           uint32_t count);
    void _ListNode(const i_NET::NodePath& path, std::vector<std::vector<std::string>>& rows);
    // The names of an enumeration node.
    std::vector<std::string> _DomainNames(const i_NET::NodePath& path);
    // The node's refusal of a get or set of count values from pos, with what is needed to mend
    // the command: the node's size for a position or a size it does not have, an enumeration's
    // names for a number it does not have, plain words for a node that cannot be read.
    i_NET::ValueException _Explained(const i_NET::ValueException& e, const i_NET::NodePath& path, uint32_t pos,
                                     size_t count);
    // Asks the server once `next` has come, and sets the next time; ConnectionLost when it is
    // gone.
    void _CheckServer(std::chrono::steady_clock::time_point& next);

    std::ostream& m_out;
    Address m_address;
    i_NET::Application_var m_app;
    Watcher* m_watcher = nullptr; // owned by the ORB
    i_NET::Notification_var m_callback;
    i_NET::RemoteNode_var m_node;
    std::chrono::milliseconds m_checkPeriod{c_checkPeriod};
    bool m_lost = false; // a check found the server gone
};

} // namespace regclient

#endif

// A registry client in its own process for the remote-node tests.
//
//   ireg_test_client <application uri> <command>...
//
// Connects to the Application, makes its own Notification object, asks for its remote node,
// prints "connected", then runs the commands in order, each given as one argument of blank-
// separated words, and prints one line per command: "<command> => <result>". A PATH is "/" for
// the root or names joined by "/". Results of CORBA calls that raise are
// "NotFound: <text>", "InvalidType: <text>", "ValueException: <text>" or the system exception as
// the ORB prints it.
//
//   get PATH POS COUNT KIND       KIND: long ulong longlong ulonglong double float boolean string short
//                                 -> "<type> <value>"; type is the alias name of a sequence
//                                    (Int32Buffer ...) or the basic kind; booleans print as 0/1
//   set PATH TYPE POS VALUES      VALUES comma-separated, "-" for none; TYPE Boolean Int32 UInt32
//                                 Int64 UInt64 Double Float String (the i_NET buffers), or
//                                 long short octet char (a bare scalar), seqlong (a sequence of
//                                 long without alias) -> "ok"
//   name PATH, nameat PATH I, nodes PATH, count PATH, leaf PATH, size PATH, type PATH, flags PATH,
//   domain PATH ("<result> [a, b]"), validator PATH ("<result> '<text>'"), signal-nil PATH
//   subscribe PATH, unsubscribe PATH, stop
//   notes N        waits (15 s at most) until N notifications arrived in all; prints those not
//                  printed yet, one line each: "note /a/b type=0 pos=3 value=<type> <value>"
//   quiet MS       waits MS milliseconds -> the number of notifications so far
//   slow MS        from now on each notification takes MS milliseconds to accept
//   release, renew ReleaseRemoteNode / GetRemoteNode again
//   signal PATH N  connects a receiver to the node's remote signal, prints its description and
//                  "connected <code>", waits for N values and prints them, then disconnects
//   loop PATH N    N times: set the int32 node to a number, get it back -> "ok" or the first fault
//   hold           prints "holding" and waits to be killed

#include <omniORB4/CORBA.h>
#include <omniORB4/omniORB.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "inet/i_net.hh"
#include "inet/orb_manager.h"
#include "inet/tests/support/refusal_text.h"

#include <omniORB4/dynAny.h>

namespace {

std::vector<std::string> Split(const std::string& text, char separator)
{
    std::vector<std::string> parts;
    std::string part;
    std::istringstream in(text);
    while (std::getline(in, part, separator)) {
        if (separator != ' ' || !part.empty()) {
            parts.push_back(part);
        }
    }
    return parts;
}

i_NET::NodeNames Path(const std::string& text)
{
    i_NET::NodeNames names;
    if (text == "/") {
        return names;
    }
    const std::vector<std::string> parts = Split(text, '/');
    names.length(static_cast<CORBA::ULong>(parts.size()));
    for (size_t i = 0; i < parts.size(); ++i) {
        names[static_cast<CORBA::ULong>(i)] = parts[i].c_str();
    }
    return names;
}

std::string PathText(const i_NET::NodeNames& names)
{
    std::string text;
    for (CORBA::ULong i = 0; i < names.length(); ++i) {
        text += "/" + std::string(names[i].in());
    }
    return text.empty() ? "/" : text;
}

std::string Number(double value, int digits)
{
    char buffer[64];
    std::snprintf(buffer, sizeof(buffer), "%.*g", digits, value);
    return buffer;
}

template <class SEQ, class F>
bool SequenceText(const CORBA::Any& any, F element, std::string& text)
{
    const SEQ* seq = nullptr;
    if (!(any >>= seq)) {
        return false;
    }
    text = "[";
    for (CORBA::ULong i = 0; i < seq->length(); ++i) {
        text += (i ? ", " : "") + element((*seq)[i]);
    }
    text += "]";
    return true;
}

// "<type> <value>"
std::string AnyText(const CORBA::Any& any)
{
    CORBA::TypeCode_var type = any.type();
    std::string text;
    switch (type->kind()) {
    case CORBA::tk_null:
        return "null";
    case CORBA::tk_boolean: {
        CORBA::Boolean b = 0;
        any >>= CORBA::Any::to_boolean(b);
        return "boolean " + std::to_string(int(b));
    }
    case CORBA::tk_long: {
        CORBA::Long v = 0;
        any >>= v;
        return "long " + std::to_string(v);
    }
    case CORBA::tk_ulong: {
        CORBA::ULong v = 0;
        any >>= v;
        return "ulong " + std::to_string(v);
    }
    case CORBA::tk_longlong: {
        CORBA::LongLong v = 0;
        any >>= v;
        return "longlong " + std::to_string(v);
    }
    case CORBA::tk_ulonglong: {
        CORBA::ULongLong v = 0;
        any >>= v;
        return "ulonglong " + std::to_string(v);
    }
    case CORBA::tk_double: {
        CORBA::Double v = 0;
        any >>= v;
        return "double " + Number(v, 17);
    }
    case CORBA::tk_float: {
        CORBA::Float v = 0;
        any >>= v;
        return "float " + Number(v, 9);
    }
    case CORBA::tk_string: {
        const char* v = nullptr;
        any >>= v;
        return std::string("string ") + v;
    }
    case CORBA::tk_alias:
        break;
    default:
        return "kind " + std::to_string(int(type->kind()));
    }
    const std::string name = type->name();
    auto integer = [](auto v) { return std::to_string(v); };
    const bool known =
        (name == "BooleanBuffer" &&
         SequenceText<i_NET::BooleanBuffer>(any, [](CORBA::Boolean v) { return std::to_string(int(v)); }, text)) ||
        (name == "Int32Buffer" && SequenceText<i_NET::Int32Buffer>(any, integer, text)) ||
        (name == "UInt32Buffer" && SequenceText<i_NET::UInt32Buffer>(any, integer, text)) ||
        (name == "Int64Buffer" && SequenceText<i_NET::Int64Buffer>(any, integer, text)) ||
        (name == "UInt64Buffer" && SequenceText<i_NET::UInt64Buffer>(any, integer, text)) ||
        (name == "DoubleBuffer" && SequenceText<i_NET::DoubleBuffer>(any, [](double v) { return Number(v, 17); }, text)) ||
        (name == "FloatBuffer" && SequenceText<i_NET::FloatBuffer>(any, [](float v) { return Number(v, 9); }, text)) ||
        (name == "StringBuffer" &&
         SequenceText<i_NET::StringBuffer>(any, [](const auto& v) { return std::string(static_cast<const char*>(v)); }, text));
    return known ? name + " " + text : "alias " + name;
}

template <class SEQ, class F>
CORBA::Any Buffer(const std::vector<std::string>& values, F parse)
{
    SEQ seq;
    seq.length(static_cast<CORBA::ULong>(values.size()));
    for (size_t i = 0; i < values.size(); ++i) {
        seq[static_cast<CORBA::ULong>(i)] = parse(values[i]);
    }
    CORBA::Any any;
    any <<= seq;
    return any;
}

CORBA::Any UnaliasedLongSequence(CORBA::ORB_ptr orb, const std::vector<std::string>& values)
{
    CORBA::Object_var object = orb->resolve_initial_references("DynAnyFactory");
    DynamicAny::DynAnyFactory_var factory = DynamicAny::DynAnyFactory::_narrow(object);
    CORBA::TypeCode_var type = orb->create_sequence_tc(0, CORBA::_tc_long);
    DynamicAny::DynAny_var dyn = factory->create_dyn_any_from_type_code(type);
    DynamicAny::DynSequence_var seq = DynamicAny::DynSequence::_narrow(dyn);
    seq->set_length(static_cast<CORBA::ULong>(values.size()));
    for (size_t i = 0; i < values.size(); ++i) {
        seq->seek(static_cast<CORBA::Long>(i));
        seq->insert_long(std::stoi(values[i]));
    }
    CORBA::Any_var any = seq->to_any();
    seq->destroy();
    return any.in();
}

CORBA::Any MakeValue(CORBA::ORB_ptr orb, const std::string& type, const std::string& text)
{
    const std::vector<std::string> values = text == "-" ? std::vector<std::string>() : Split(text, ',');
    auto i64 = [](const std::string& v) { return CORBA::LongLong(std::stoll(v)); };
    auto u64 = [](const std::string& v) { return CORBA::ULongLong(std::stoull(v)); };
    if (type == "Boolean") {
        return Buffer<i_NET::BooleanBuffer>(values, [](const std::string& v) {
            return CORBA::Boolean(v == "true" ? 1 : v == "false" ? 0 : std::stoi(v));
        });
    }
    if (type == "Int32") {
        return Buffer<i_NET::Int32Buffer>(values, [&](const std::string& v) { return CORBA::Long(i64(v)); });
    }
    if (type == "UInt32") {
        return Buffer<i_NET::UInt32Buffer>(values, [&](const std::string& v) { return CORBA::ULong(u64(v)); });
    }
    if (type == "Int64") {
        return Buffer<i_NET::Int64Buffer>(values, i64);
    }
    if (type == "UInt64") {
        return Buffer<i_NET::UInt64Buffer>(values, u64);
    }
    if (type == "Double") {
        return Buffer<i_NET::DoubleBuffer>(values, [](const std::string& v) { return std::stod(v); });
    }
    if (type == "Float") {
        return Buffer<i_NET::FloatBuffer>(values, [](const std::string& v) { return std::stof(v); });
    }
    if (type == "String") {
        return Buffer<i_NET::StringBuffer>(values, [](const std::string& v) { return v.c_str(); });
    }
    if (type == "seqlong") {
        return UnaliasedLongSequence(orb, values);
    }
    CORBA::Any any;
    const long first = values.empty() ? 0 : std::stol(values[0]);
    if (type == "long") {
        any <<= CORBA::Long(first);
    } else if (type == "short") {
        any <<= CORBA::Short(first);
    } else if (type == "octet") {
        any <<= CORBA::Any::from_octet(CORBA::Octet(first));
    } else if (type == "char") {
        any <<= CORBA::Any::from_char(CORBA::Char(first));
    } else {
        throw std::runtime_error("unknown value type " + type);
    }
    return any;
}

CORBA::TypeCode_ptr Requested(const std::string& kind)
{
    if (kind == "long") return CORBA::_tc_long;
    if (kind == "ulong") return CORBA::_tc_ulong;
    if (kind == "longlong") return CORBA::_tc_longlong;
    if (kind == "ulonglong") return CORBA::_tc_ulonglong;
    if (kind == "double") return CORBA::_tc_double;
    if (kind == "float") return CORBA::_tc_float;
    if (kind == "boolean") return CORBA::_tc_boolean;
    if (kind == "string") return CORBA::_tc_string;
    if (kind == "short") return CORBA::_tc_short;
    throw std::runtime_error("unknown kind " + kind);
}

class Notes : public POA_i_NET::Notification {
public:
    void Emit(const i_NET::NotificationData& data) override
    {
        const int delay = m_delayMs;
        if (delay > 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(delay));
        }
        std::lock_guard<std::mutex> lock(m_mutex);
        m_lines.push_back("note " + PathText(data.path) + " type=" + std::to_string(data.type) +
                          " pos=" + std::to_string(data.position) + " value=" + AnyText(data.value));
        m_arrived.notify_all();
    }

    // The lines from `from` on once there are `count` of them; fewer after the time-out.
    std::vector<std::string> Wait(size_t count, size_t from)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_arrived.wait_for(lock, std::chrono::seconds(15), [&] { return m_lines.size() >= count; });
        return std::vector<std::string>(m_lines.begin() + static_cast<std::ptrdiff_t>(std::min(from, m_lines.size())),
                                        m_lines.end());
    }

    size_t Count()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_lines.size();
    }

    std::atomic<int> m_delayMs{0};

private:
    std::mutex m_mutex;
    std::condition_variable m_arrived;
    std::vector<std::string> m_lines;
};

class Receiver : public POA_i_NET::SignalReceiver {
public:
    void Receive(const CORBA::Any& values, const i_NET::SignalMeta&) override
    {
        const i_NET::Int64Buffer* seq = nullptr;
        std::lock_guard<std::mutex> lock(m_mutex);
        if (values >>= seq) {
            for (CORBA::ULong i = 0; i < seq->length(); ++i) {
                m_values.push_back((*seq)[i]);
            }
        }
        m_arrived.notify_all();
    }
    void Closed(CORBA::Long) override {}

    std::vector<int64_t> Wait(size_t count)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_arrived.wait_for(lock, std::chrono::seconds(15), [&] { return m_values.size() >= count; });
        return m_values;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_arrived;
    std::vector<int64_t> m_values;
};

class Client {
public:
    Client(CORBA::ORB_ptr orb, i_NET::Application_ptr app) : m_orb(CORBA::ORB::_duplicate(orb)), m_app(app)
    {
        m_notes = new Notes;
        inet::OM().Activate(m_notes);
        m_callback = m_notes->_this();
        m_node = m_app->GetRemoteNode(m_callback);
    }

    // The result of one command; the multi-line ones print their own lines first.
    std::string Run(const std::vector<std::string>& w);

private:
    std::string Signal(const std::string& path, size_t count);

    CORBA::ORB_var m_orb;
    i_NET::Application_var m_app;
    Notes* m_notes = nullptr;
    i_NET::Notification_var m_callback;
    i_NET::RemoteNode_var m_node;
    size_t m_printed = 0;
};

std::string Client::Run(const std::vector<std::string>& w)
{
    const std::string& c = w.at(0);
    auto arg = [&](size_t i) -> const std::string& { return w.at(i); };
    auto num = [&](size_t i) { return static_cast<CORBA::ULong>(std::stoul(w.at(i))); };
    if (c == "get") {
        CORBA::Any_var value = m_node->GetValue(Path(arg(1)), num(2), num(3), Requested(arg(4)));
        return AnyText(value.in());
    }
    if (c == "set") {
        m_node->SetValue(Path(arg(1)), MakeValue(m_orb, arg(2), w.size() > 4 ? arg(4) : "-"), num(3));
        return "ok";
    }
    if (c == "name") {
        CORBA::String_var name = m_node->GetName(Path(arg(1)));
        return name.in();
    }
    if (c == "nameat") {
        CORBA::String_var name = m_node->GetNameByIndex(Path(arg(1)), num(2));
        return name.in();
    }
    if (c == "nodes") {
        i_NET::NodeNames_var names = m_node->GetNodes(Path(arg(1)));
        std::string text;
        for (CORBA::ULong i = 0; i < names->length(); ++i) {
            text += (i ? "," : "") + std::string(names[i].in());
        }
        return "[" + text + "]";
    }
    if (c == "count") {
        return std::to_string(m_node->GetNodeCount(Path(arg(1))));
    }
    if (c == "leaf") {
        return m_node->IsLeaf(Path(arg(1))) ? "true" : "false";
    }
    if (c == "size") {
        return std::to_string(m_node->GetSize(Path(arg(1))));
    }
    if (c == "type") {
        return std::to_string(m_node->GetValueType(Path(arg(1))));
    }
    if (c == "flags") {
        char buffer[32];
        std::snprintf(buffer, sizeof(buffer), "0x%llx", static_cast<unsigned long long>(m_node->GetFlags(Path(arg(1)))));
        return buffer;
    }
    if (c == "domain") {
        i_NET::StringVec_var values;
        const bool result = m_node->GetDomainValues(Path(arg(1)), values.out());
        std::string text;
        for (CORBA::ULong i = 0; i < values->length(); ++i) {
            text += (i ? ", " : "") + std::string(values[i].in());
        }
        return std::string(result ? "true" : "false") + " [" + text + "]";
    }
    if (c == "validator") {
        CORBA::String_var text;
        const bool result = m_node->GetValidatorExpression(Path(arg(1)), text.out());
        return std::string(result ? "true" : "false") + " '" + text.in() + "'";
    }
    if (c == "signal-nil") {
        i_NET::RemoteSignal_var signal = m_node->GetRemoteSignal(Path(arg(1)));
        return CORBA::is_nil(signal) ? "nil" : "not nil";
    }
    if (c == "subscribe") {
        return m_node->Subscribe(Path(arg(1))) ? "true" : "false";
    }
    if (c == "unsubscribe") {
        return m_node->Unsubscribe(Path(arg(1))) ? "true" : "false";
    }
    if (c == "stop") {
        m_node->StopNotifications();
        return "ok";
    }
    if (c == "notes") {
        const std::vector<std::string> lines = m_notes->Wait(num(1), m_printed);
        for (const std::string& line : lines) {
            std::cout << line << std::endl;
        }
        m_printed += lines.size();
        return std::to_string(m_printed);
    }
    if (c == "quiet") {
        std::this_thread::sleep_for(std::chrono::milliseconds(num(1)));
        return std::to_string(m_notes->Count());
    }
    if (c == "slow") {
        m_notes->m_delayMs = static_cast<int>(num(1));
        return "ok";
    }
    if (c == "release") {
        m_app->ReleaseRemoteNode(m_callback);
        return "ok";
    }
    if (c == "renew") {
        m_node = m_app->GetRemoteNode(m_callback);
        return "ok";
    }
    if (c == "signal") {
        return Signal(arg(1), num(2));
    }
    if (c == "loop") {
        for (CORBA::ULong i = 0; i < num(2); ++i) {
            i_NET::Int32Buffer value;
            value.length(1);
            value[0] = static_cast<CORBA::Long>(i);
            CORBA::Any any;
            any <<= value;
            m_node->SetValue(Path(arg(1)), any, 0);
            CORBA::Any_var back = m_node->GetValue(Path(arg(1)), 0, 1, CORBA::_tc_long);
            CORBA::Long read = -1;
            if (!(back.in() >>= read)) {
                return "bad value " + AnyText(back.in());
            }
        }
        return "ok";
    }
    if (c == "hold") {
        std::cout << "holding" << std::endl;
        for (;;) {
            std::this_thread::sleep_for(std::chrono::seconds(1));
        }
    }
    throw std::runtime_error("unknown command " + c);
}

std::string Client::Signal(const std::string& path, size_t count)
{
    i_NET::RemoteSignal_var signal = m_node->GetRemoteSignal(Path(path));
    if (CORBA::is_nil(signal)) {
        return "nil";
    }
    CORBA::String_var name = signal->GetName();
    std::cout << "signal " << name.in() << " atom=" << signal->GetAtomSize() << " length=" << signal->GetLength()
              << std::endl;
    auto* receiver = new Receiver;
    inet::OM().Activate(receiver);
    i_NET::SignalReceiver_var ref = receiver->_this();
    std::cout << "connected " << signal->Connect(ref, "remote-test", 16) << std::endl;
    const std::vector<int64_t> values = receiver->Wait(count);
    signal->Disconnect(ref);
    std::string text = "atoms";
    for (int64_t v : values) {
        text += " " + std::to_string(v);
    }
    inet::OM().Deactivate(receiver);
    return text;
}

std::string Fault(const std::function<std::string()>& f)
{
    try {
        return f();
    } catch (const CORBA::Exception& e) {
        return inettest::RefusalText(e);
    } catch (const std::exception& e) {
        return std::string("error: ") + e.what();
    }
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::cerr << "usage: ireg_test_client <application uri> <command>..." << std::endl;
        return 1;
    }
    int rc = 0;
    try {
        inet::OrbManager::Init(argc, argv, 0, 64u << 20);
        CORBA::ORB_var orb = inet::OM().GetORB();
        CORBA::Object_var object = orb->string_to_object(argv[1]);
        i_NET::Application_var app = i_NET::Application::_narrow(object);
        Client client(orb, app._retn());
        std::cout << "connected" << std::endl;
        for (int i = 2; i < argc; ++i) {
            const std::string command = argv[i];
            const std::string result = Fault([&] { return client.Run(Split(command, ' ')); });
            std::cout << command << " => " << result << std::endl;
        }
    } catch (const CORBA::Exception& e) {
        std::cout << "error: " << inet::ExceptionText(e) << std::endl;
        rc = 2;
    } catch (const std::exception& e) {
        std::cout << "error: " << e.what() << std::endl;
        rc = 2;
    }
    inet::OM().ORBDestroy();
    return rc;
}

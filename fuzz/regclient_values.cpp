// What registry-client reads from outside: the values of set from its command line, and the
// server's answers (values read, change notifications, stream payloads), which a server of any
// kind may send.
// Input, byte 0 even: byte 1 picks the node's value-type code (-1 to 10), the rest are the
// command line's values, separated by NUL bytes; only std::invalid_argument may refuse them.
// Byte 0 odd: byte 1 picks the value's TypeCode (the shared table, the signals' other buffers),
// byte 2 the signal's atom type (-1 to 10), byte 3 its number of components (0 to 4), byte 4 the
// atoms to print at most (0 to 3: 0 is all); then, as the ORB unmarshals them, the notification's
// path (a sequence of strings), position (unsigned long) and type (long), and the value's bytes.
// The value is read as an enumeration's numbers and names, printed as a notification (one line
// that begins with the path) and as a stream's payload (no more atoms than the limit).

#include <omniORB4/CORBA.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "corba_input.h"
#include "fuzz_support.h"
#include "ireg/corba_value.h"
#include "registry_client.h"

namespace {

using fuzzsupport::Check;

void SetValues(const uint8_t* data, size_t size)
{
    const CORBA::Long type = CORBA::Long(data[1] % 12) - 1;
    std::vector<std::string> texts(1);
    for (size_t i = 2; i < size; ++i) {
        if (data[i] == 0) {
            texts.emplace_back();
        } else {
            texts.back() += static_cast<char>(data[i]);
        }
    }
    try {
        regclient::ToValue(texts, type);
    } catch (const std::invalid_argument&) {
        // The value is no value of the type: the client says so.
    }
}

const std::vector<CORBA::TypeCode_var>& AnswerTypes()
{
    static const std::vector<CORBA::TypeCode_var> types = [] {
        std::vector<CORBA::TypeCode_var> all;
        for (const auto& type : fuzzsupport::ValueTypes()) {
            all.emplace_back(CORBA::TypeCode::_duplicate(type.in()));
        }
        all.emplace_back(CORBA::TypeCode::_duplicate(i_NET::_tc_UInt16Buffer));
        all.emplace_back(CORBA::TypeCode::_duplicate(i_NET::_tc_Int8Buffer));
        return all;
    }();
    return types;
}

size_t Count(const std::string& text, const std::string& part)
{
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) {
        ++count;
    }
    return count;
}

void Answers(const uint8_t* data, size_t size)
{
    const std::vector<CORBA::TypeCode_var>& types = AnswerTypes();
    const CORBA::TypeCode_ptr type = types[data[1] % types.size()].in();
    const CORBA::Long atomType = CORBA::Long(data[2] % 12) - 1;
    const size_t components = data[3] % 5;
    const uint64_t limit = data[4] % 4;

    i_NET::NotificationData notification;
    fuzzsupport::CdrInput input(data + 5, size - 5);
    try {
        notification.path <<= input.Stream();
        notification.position <<= input.Stream();
        notification.type <<= input.Stream();
    } catch (const CORBA::SystemException&) {
        return; // the ORB refuses the request before the client sees it
    }
    const std::vector<uint8_t> rest = input.Rest();
    if (!fuzzsupport::ReadAny(type, rest.data(), rest.size(), notification.value)) {
        return;
    }

    regclient::Numbers(notification.value);
    regclient::Texts(notification.value);

    std::ostringstream watched;
    regclient::Watcher watcher(watched);
    watcher.Emit(notification);
    Check(watched.str().rfind(regclient::PathText(notification.path), 0) == 0);
    Check(watcher.Count() == 1);

    std::vector<std::string> names;
    for (size_t i = 0; i < components; ++i) {
        names.push_back("c" + std::to_string(i));
    }
    std::ostringstream streamed;
    regclient::AtomPrinter printer(streamed, names, atomType, limit);
    printer.Receive(notification.value, i_NET::SignalMeta());
    printer.Closed(notification.type);
    const regclient::StreamResult result = printer.Finish();
    Check(result.calls == 1 && result.closed && result.closeCode == notification.type);
    // Atoms taken: one line for each up to the limit, nothing else.
    if (result.atoms > 0) {
        const uint64_t lines = limit == 0 ? result.atoms : std::min(result.atoms, limit);
        Check(Count(streamed.str(), "\n") == lines);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzzsupport::Orb();
    if (size < 5) {
        return 0;
    }
    if (data[0] % 2 == 0) {
        SetValues(data, size);
    } else {
        Answers(data, size);
    }
    return 0;
}

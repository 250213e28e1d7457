// Board URI texts and the board-management enumeration parsers on arbitrary text. The first
// byte picks the parser, the rest is the text. Every refusal must be an istd::Exception that
// leaves its target unchanged; anything else (another exception, a sanitizer report, a broken
// invariant) is a finding.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "bmc/types.h"
#include "bmc/uri.h"

namespace {

// A parsed URI prints a text that parses back to the same text.
void TryUri(const std::string& text)
{
    bmc::Uri uri;
    try {
        uri = bmc::DecomposeUri(text);
    } catch (const istd::Exception&) {
        if (uri.ToString() != "kvr:///unknown/") {
            std::abort();
        }
        return;
    }
    const std::string qualified = uri.ToString();
    if (qualified.compare(0, 4, "kvr:") != 0 || bmc::DecomposeUri(qualified).ToString() != qualified) {
        std::abort();
    }
    if (uri.IsLocal() != uri.GetLocation().empty()) {
        std::abort();
    }
}

// Stream parsing of one enumeration: the target keeps its value on failure, and a parsed value
// prints a text that names it.
template <class E>
void TryEnum(const std::string& text, E initial)
{
    std::istringstream is(text);
    E value = initial;
    try {
        is >> value;
    } catch (const istd::Exception&) {
        if (value != initial) {
            std::abort();
        }
        return;
    }
    std::ostringstream os;
    os << value;
    if (istd::EnumCast<E>(os.str()) != value) {
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0) {
        return 0;
    }
    const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
    switch (data[0] % 5) {
    case 0:
        TryUri(text);
        break;
    case 1:
        TryEnum(text, bmc::eBoardTypePAX);
        break;
    case 2:
        TryEnum(text, bmc::eFirmwareTypeKOZ);
        break;
    case 3:
        TryEnum(text, eHwRevC);
        break;
    default:
        TryEnum(text, eAppIdQuendra);
        break;
    }
    return 0;
}

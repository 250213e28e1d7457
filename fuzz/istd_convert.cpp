// Text conversions of the standard-utility layer on arbitrary text. The first byte picks the
// conversion, the rest is the text; every text is also made fit for the log (OutsideText). Every
// refusal must be an istd::Exception; anything else (another exception, a sanitizer report, a
// broken invariant) is a finding.

#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>

#include "istd/convert.h"
#include "istd/enum_map.h"
#include "istd/outside_text.h"
#include "istd/time.h"
#include "istd/trace.h"

namespace {

template <class T>
void TryFromString(const std::string& text)
{
    try {
        const T value = istd::FromString<T>(text);
        // A plain decimal text reads back to the same number.
        if constexpr (std::is_integral_v<T> && !std::is_same_v<T, bool>) {
            if (!text.empty() && text.find_first_not_of("0123456789") == std::string::npos &&
                text.size() < 18 && text[0] != '0') {
                if (istd::ToString(value) != text) {
                    std::abort();
                }
            }
        }
    } catch (const istd::Exception&) {
    }
}

template <class T>
void TryHexTo(const std::string& text)
{
    try {
        (void)istd::HexTo<T>(text);
    } catch (const istd::Exception&) {
    }
}

void TryEnum(const std::string& text)
{
    try {
        const istd::TraceLevel_e level = istd::EnumCast<istd::TraceLevel_e>(text);
        if (istd::EnumMap<istd::TraceLevel_e>::items.FindName(level) == nullptr) {
            std::abort(); // a parsed value always has a row
        }
        int64_t number = 0;
        if (istd::ParseDecimalInt64(text, number) && (number < INT32_MIN || number > int64_t(UINT32_MAX))) {
            std::abort(); // a number beyond 32 bits names no value, whatever its low bits
        }
    } catch (const istd::Exception&) {
    }
    std::istringstream is(text);
    istd::TraceLevel_e level = istd::eTraceNone;
    try {
        while (is) {
            is >> level;
        }
    } catch (const istd::Exception&) {
    }
}

void TryTokenize(const std::string& text)
{
    // The text before the first NUL holds the separators, the rest is split.
    const size_t nul = text.find('\0');
    const std::string separators = nul == std::string::npos ? std::string(" ") : text.substr(0, nul);
    const std::string body = nul == std::string::npos ? text : text.substr(nul + 1);
    const std::string bodyText = body.substr(0, body.find('\0'));
    size_t kept = 0;
    for (const std::string& piece : istd::TokenizeString(bodyText.c_str(), separators.c_str())) {
        if (piece.empty() || piece.find_first_of(separators) != std::string::npos) {
            std::abort();
        }
        kept += piece.size();
    }
    size_t expected = 0;
    for (char c : bodyText) {
        expected += separators.find(c) == std::string::npos ? 1 : 0;
    }
    if (kept != expected) {
        std::abort();
    }
}

// The text the log shows, cut to max bytes: nothing in it but printable UTF-8 and escapes, and
// the escapes read back to the text (or to a prefix of it at most max bytes long, with the full
// length after it).
void TryOutsideText(const std::string& text, size_t max)
{
    const std::string shown = istd::OutsideText(text, max);
    std::string body = shown;
    const std::string cut = "... (" + std::to_string(text.size()) + " bytes)";
    if (text.size() > max) {
        if (shown.size() < cut.size() || shown.compare(shown.size() - cut.size(), cut.size(), cut) != 0) {
            std::abort();
        }
        body.resize(shown.size() - cut.size());
    }
    std::string read;
    std::string reEscaped;
    for (size_t i = 0; i < body.size(); ++i) {
        const auto c = static_cast<unsigned char>(body[i]);
        if (c < 0x20 || c == 0x7f) {
            std::abort();
        }
        if (c != '\\') {
            read += body[i];
            reEscaped += body[i];
            continue;
        }
        if (i + 3 >= body.size() || body[i + 1] != 'x' || !std::isxdigit(static_cast<unsigned char>(body[i + 2])) ||
            !std::isxdigit(static_cast<unsigned char>(body[i + 3]))) {
            std::abort();
        }
        read += static_cast<char>(std::strtoul(body.substr(i + 2, 2).c_str(), nullptr, 16));
        reEscaped += "\\x5c" + body.substr(i + 1, 3);
        i += 3;
    }
    // What is not escaped is valid UTF-8 without controls: escaping it again changes only the
    // backslashes of the escapes.
    if (istd::OutsideText(body, body.size()) != reEscaped) {
        std::abort();
    }
    if (text.size() > max ? (read.size() > max || text.compare(0, read.size(), read) != 0 || read.size() + 4 <= max)
                          : read != text) {
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
    TryOutsideText(text, istd::c_outsideTextBytes);
    TryOutsideText(text, data[0] % 32);
    switch (data[0] % 6) {
    case 0:
        TryFromString<int>(text);
        TryFromString<unsigned>(text);
        TryFromString<int64_t>(text);
        TryFromString<uint64_t>(text);
        TryFromString<uint8_t>(text);
        TryFromString<int16_t>(text);
        break;
    case 1:
        TryFromString<double>(text);
        TryFromString<float>(text);
        TryFromString<bool>(text);
        break;
    case 2:
        TryHexTo<uint32_t>(text);
        TryHexTo<int32_t>(text);
        TryHexTo<uint64_t>(text);
        TryHexTo<uint8_t>(text);
        break;
    case 3:
        TryEnum(text);
        break;
    case 4:
        TryTokenize(text);
        break;
    default:
        try {
            (void)istd::CreateTime(text);
        } catch (const istd::Exception&) {
        }
        (void)istd::TrimString(text);
        break;
    }
    return 0;
}

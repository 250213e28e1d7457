#ifndef ISTD_OUTSIDE_TEXT_H
#define ISTD_OUTSIDE_TEXT_H

// Text that came from outside the process (a remote client's path, value or name; a path, value
// or word from the command line, the environment or a file), made fit for the log and the trace:
//
//     istd::LogWarning("ireg: remote GetValue of " + istd::OutsideText(path) + " refused: " + ...);
//
// Whoever sends such text must not be able to start a log line of their own (a newline and a
// time stamp), send escape sequences to the terminal that shows the log, put bytes in it that
// are no text, or fill the disk with one long name. So every control character (below 0x20,
// 0x7f and the C1 controls U+0080 to U+009F), every byte that is no part of valid UTF-8 and the
// backslash itself (so that an escape in the log is always one) are written as \xNN in
// lower-case hexadecimal; everything else passes unchanged. A text longer than maxBytes bytes is
// cut at a character boundary at or before maxBytes and ends in "... (N bytes)", N its full
// length:
//
//     "a\nb"            ->  a\x0ab
//     "\x1b[31mred"     ->  \x1b[31mred
//     "caf\xc3\xa9"     ->  café (valid UTF-8)
//     "\xff"            ->  \xff
//     4000 times "x"    ->  256 times "x", then "... (4000 bytes)"

#include <cstddef>
#include <string>

#include "istd/istd_export.h"

namespace istd {

// The longest part of one outside text that the log shows, in bytes of the text.
constexpr size_t c_outsideTextBytes = 256;

ISTD_API std::string OutsideText(const std::string& text, size_t maxBytes = c_outsideTextBytes);
// A null pointer gives "".
ISTD_API std::string OutsideText(const char* text, size_t maxBytes = c_outsideTextBytes);

// The character that UTF-8 text begins with (left bytes of it at p, at least 1), and its length;
// -1 for anything that is no well-formed UTF-8: a cut or stray byte, a longer form than needed
// ("\xC1\x81" for 'A'), a surrogate or a value above U+10FFFF.
ISTD_API int DecodeUtf8(const unsigned char* p, size_t left, size_t& length);

} // namespace istd

#endif

#ifndef EXAMPLES_COMMON_PROGRAM_H
#define EXAMPLES_COMMON_PROGRAM_H

// What the example programs share: their handling of the command line (option values are taken
// as text and converted here, so that every bad value gets the same clear message) and the
// start of their ORB.

#include <iostream>
#include <limits>
#include <stdexcept>
#include <string>

#include "inet/orb_manager.h"
#include "istd/convert.h"

namespace examples {

// A command line the program cannot run: the text says why. The programs print it and
// exit with code 2.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The option's text as a whole number from minimum to maximum (decimal, or hexadecimal after
// "0x"); anything else throws UsageError "invalid <what> '<text>' (a number from .. to ..)".
template <class T>
T NumberOption(const std::string& what, const std::string& text, T minimum = std::numeric_limits<T>::min(),
               T maximum = std::numeric_limits<T>::max())
{
    T value{};
    bool valid = true;
    try {
        value = istd::FromString<T>(text);
    } catch (const istd::Exception&) {
        valid = false;
    }
    if (!valid || value < minimum || value > maximum) {
        throw UsageError("invalid " + what + " '" + text + "' (a number from " + std::to_string(minimum) + " to " +
                         std::to_string(maximum) + ")");
    }
    return value;
}

// Runs the program's parser, which answers false after printing the help and throws UsageError
// for a bad command line. The exit code when the program ends here: 0 after the help, 2 after
// the error and a hint on standard error; -1 to go on.
template <class F>
int ParseCommandLine(const char* program, F&& parse)
{
    try {
        return parse() ? -1 : 0;
    } catch (const UsageError& e) {
        std::cerr << program << ": " << e.what() << "\nTry '" << program << " --help'." << std::endl;
        return 2;
    }
}

// The process's ORB on the port (0: one the system chooses), without ORB options of the
// command line, which the programs do not take.
inline void InitOrb(char* program, unsigned port, unsigned maxPacket)
{
    int argc = 1;
    char* argv[] = {program, nullptr};
    inet::OrbManager::Init(argc, argv, port, maxPacket);
}

} // namespace examples

#endif

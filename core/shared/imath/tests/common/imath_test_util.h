#ifndef IMATH_TEST_UTIL_H
#define IMATH_TEST_UTIL_H

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "imath/filter.h"

namespace imathtest {

// A reference file of tests/data (written by make_reference.py): id -> field -> values, ids in
// the order of the file. Fails the calling test (and returns nothing) when the file is missing
// or a value does not parse.
using Fields = std::map<std::string, std::vector<double>>;
using Reference = std::vector<std::pair<std::string, Fields>>;
Reference ReadReference(const std::string& name);

// Values as text, separated by blanks: Exact with 17 significant digits, Near with 12 (for
// results that the summation order may move in the last bits).
std::string Exact(const std::vector<double>& values);
std::string Near(const std::vector<double>& values);

// |got - want| <= tol * max(|want|, scale).
bool Close(double got, double want, double tol, double scale);

// "b0 b1 ... | a0 a1 ..." of the filter's own transfer function, exact.
std::string Coefficients(const imath::Filter& f);

// One row of a table of documented cases: what it shows, its result as text, the text expected.
struct EdgeCase {
    const char* what;
    std::function<std::string()> actual;
    std::string expected;
};

} // namespace imathtest

#endif

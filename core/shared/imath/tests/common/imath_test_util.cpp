#include "imath_test_util.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "tests/support/files.h"

namespace imathtest {

Reference ReadReference(const std::string& name)
{
    const std::string path = std::string(KAVREL_TEST_DATA_DIR) + "/" + name;
    const std::string text = testsupport::ReadFile(path);
    Reference out;
    if (text.empty()) {
        ADD_FAILURE() << "cannot read " << path;
        return out;
    }
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.empty() || line[0] == '#') {
            continue;
        }
        std::istringstream cells(line);
        std::string id, field, cell;
        std::getline(cells, id, ',');
        std::getline(cells, field, ',');
        std::vector<double> values;
        while (std::getline(cells, cell, ',')) {
            char* end = nullptr;
            errno = 0;
            const double v = std::strtod(cell.c_str(), &end);
            if (end == cell.c_str() || *end != '\0' || errno != 0) {
                ADD_FAILURE() << path << ": bad value '" << cell << "' in " << id << "," << field;
                return {};
            }
            values.push_back(v);
        }
        if (out.empty() || out.back().first != id) {
            out.emplace_back(id, Fields());
        }
        out.back().second[field] = values;
    }
    return out;
}

namespace {

std::string Join(const std::vector<double>& values, const char* format)
{
    std::string s;
    for (double v : values) {
        char buf[40];
        std::snprintf(buf, sizeof buf, format, v);
        s += (s.empty() ? "" : " ") + std::string(buf);
    }
    return s;
}

} // namespace

std::string Exact(const std::vector<double>& values)
{
    return Join(values, "%.17g");
}

std::string Near(const std::vector<double>& values)
{
    return Join(values, "%.12g");
}

bool Close(double got, double want, double tol, double scale)
{
    return std::fabs(got - want) <= tol * std::max(std::fabs(want), scale);
}

std::string Coefficients(const imath::Filter& f)
{
    const imath::TransferFunction tf = f.GetTransferFunction();
    return Exact(tf.GetNumerator()) + " | " + Exact(tf.GetDenominator());
}

} // namespace imathtest

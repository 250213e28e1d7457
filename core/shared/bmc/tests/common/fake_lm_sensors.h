#ifndef BMC_TESTS_FAKE_LM_SENSORS_H
#define BMC_TESTS_FAKE_LM_SENSORS_H

// A stand-in for libsensors behind the host connection's function table, for monitoring chips
// this machine does not have and for the failure paths. Its state is process-wide (the table
// holds plain function pointers): Reset() before use.

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "bmc/os_connection.h"

namespace bmctest {

// libsensors: a table of chips and features built by the test.
class FakeLmSensors {
public:
    struct Feature {
        sensors_feature_type type;
        std::optional<std::string> label;                      // nullopt: the label cannot be read
        std::map<sensors_subfeature_type, double> subfeatures; // present and readable
        std::vector<sensors_subfeature_type> unreadable;       // present, reading fails
    };
    struct Chip {
        std::optional<std::string> name; // nullopt: the name cannot be printed
        std::vector<Feature> features;
    };

    static void Reset(std::vector<Chip> chips = {});
    // The host libraries with libsensors faked and libstatgrab's memory figures faked; the CPU
    // sampler is the one cpuStats names (CpuStats::Instance unless set).
    static bmc::OsConnection::Libraries Libraries(bmc::CpuStats& (*cpuStats)() = nullptr);

    static void SetInitResult(int result);
    // Changes a readable subfeature's value.
    static void SetValue(size_t chip, size_t feature, sensors_subfeature_type type, double value);

    static size_t Calls(const std::string& function);
    // Handles used while libsensors' state was not initialised (after the last clean-up).
    static size_t StaleUses();
};

} // namespace bmctest

#endif

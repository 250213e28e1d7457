#include "fake_lm_sensors.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>

#include <sensors/error.h>

#include "call_counter.h"
#include "fake_statgrab.h"

namespace bmctest {

namespace {

// Calls come from the test's threads.
std::mutex g_mutex;
CallCounter g_calls;

struct SensorsFeature {
    sensors_feature feature{};
    std::optional<std::string> label;
    std::vector<sensors_subfeature> subfeatures; // number: the key of g_sensors.values
};

struct SensorsChip {
    sensors_chip_name name{};
    std::optional<std::string> text;
    std::vector<std::unique_ptr<SensorsFeature>> features;
};

struct SensorsState {
    int initResult = 0;
    bool initialised = false;
    size_t staleUses = 0;
    // Stable addresses: the connection keeps the handles.
    std::vector<std::unique_ptr<SensorsChip>> chips;
    std::map<int, std::optional<double>> values; // by subfeature number; nullopt: unreadable
};
SensorsState g_sensors;

void _UseHandle()
{
    if (!g_sensors.initialised) {
        ++g_sensors.staleUses;
    }
}

const SensorsChip* _Chip(const sensors_chip_name* name)
{
    for (const auto& chip : g_sensors.chips) {
        if (&chip->name == name) {
            return chip.get();
        }
    }
    return nullptr;
}

const SensorsFeature* _Feature(const sensors_chip_name* name, const sensors_feature* feature)
{
    if (const SensorsChip* chip = _Chip(name)) {
        for (const auto& f : chip->features) {
            if (&f->feature == feature) {
                return f.get();
            }
        }
    }
    return nullptr;
}

int _SensorsInit(FILE*)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_calls.Add("sensorsInit");
    g_sensors.initialised = g_sensors.initResult == 0;
    return g_sensors.initResult;
}

void _SensorsCleanup()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_calls.Add("sensorsCleanup");
    g_sensors.initialised = false;
}

const sensors_chip_name* _GetDetectedChips(const sensors_chip_name*, int* nr)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    _UseHandle();
    if (*nr < 0 || static_cast<size_t>(*nr) >= g_sensors.chips.size()) {
        return nullptr;
    }
    return &g_sensors.chips[static_cast<size_t>((*nr)++)]->name;
}

int _SnprintfChipName(char* text, size_t size, const sensors_chip_name* name)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    _UseHandle();
    const SensorsChip* chip = _Chip(name);
    if (chip == nullptr || !chip->text) {
        return -1;
    }
    return std::snprintf(text, size, "%s", chip->text->c_str());
}

const sensors_feature* _GetFeatures(const sensors_chip_name* name, int* nr)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    _UseHandle();
    const SensorsChip* chip = _Chip(name);
    if (chip == nullptr || *nr < 0 || static_cast<size_t>(*nr) >= chip->features.size()) {
        return nullptr;
    }
    return &chip->features[static_cast<size_t>((*nr)++)]->feature;
}

char* _GetLabel(const sensors_chip_name* name, const sensors_feature* feature)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    _UseHandle();
    const SensorsFeature* f = _Feature(name, feature);
    return f != nullptr && f->label ? strdup(f->label->c_str()) : nullptr;
}

const sensors_subfeature* _GetSubfeature(const sensors_chip_name* name, const sensors_feature* feature,
                                         sensors_subfeature_type type)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_calls.Add("getSubfeature");
    _UseHandle();
    if (const SensorsFeature* f = _Feature(name, feature)) {
        for (const sensors_subfeature& sub : f->subfeatures) {
            if (sub.type == type) {
                return &sub;
            }
        }
    }
    return nullptr;
}

int _GetValue(const sensors_chip_name*, int number, double* value)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_calls.Add("getValue");
    _UseHandle();
    const auto it = g_sensors.values.find(number);
    if (it == g_sensors.values.end() || !it->second) {
        return -SENSORS_ERR_KERNEL;
    }
    *value = *it->second;
    return 0;
}

bmc::CpuStats& (*g_cpuStats)() = nullptr;

bmc::CpuStats& _CpuStats()
{
    return g_cpuStats != nullptr ? g_cpuStats() : bmc::CpuStats::Instance();
}

} // namespace

void FakeLmSensors::Reset(std::vector<Chip> chips)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_sensors = SensorsState();
    g_calls.Clear();
    int number = 0;
    for (const Chip& chip : chips) {
        auto made = std::make_unique<SensorsChip>();
        made->text = chip.name;
        for (const Feature& feature : chip.features) {
            auto f = std::make_unique<SensorsFeature>();
            f->feature.type = feature.type;
            f->feature.number = static_cast<int>(made->features.size());
            f->label = feature.label;
            for (const auto& [type, value] : feature.subfeatures) {
                sensors_subfeature sub{};
                sub.type = type;
                sub.number = number++;
                f->subfeatures.push_back(sub);
                g_sensors.values[sub.number] = value;
            }
            for (const sensors_subfeature_type type : feature.unreadable) {
                sensors_subfeature sub{};
                sub.type = type;
                sub.number = number++;
                f->subfeatures.push_back(sub);
                g_sensors.values[sub.number] = std::nullopt;
            }
            made->features.push_back(std::move(f));
        }
        g_sensors.chips.push_back(std::move(made));
    }
}

bmc::OsConnection::Libraries FakeLmSensors::Libraries(bmc::CpuStats& (*cpuStats)())
{
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        g_cpuStats = cpuStats;
    }
    return bmc::OsConnection::Libraries{FakeStatgrab::Api().getMemStats,
                                        &_CpuStats,
                                        &_SensorsInit,
                                        &_SensorsCleanup,
                                        &_GetDetectedChips,
                                        &_SnprintfChipName,
                                        &_GetFeatures,
                                        &_GetLabel,
                                        &_GetSubfeature,
                                        &_GetValue};
}

void FakeLmSensors::SetInitResult(int result)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_sensors.initResult = result;
}

void FakeLmSensors::SetValue(size_t chip, size_t feature, sensors_subfeature_type type, double value)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    for (const sensors_subfeature& sub : g_sensors.chips.at(chip)->features.at(feature)->subfeatures) {
        if (sub.type == type) {
            g_sensors.values[sub.number] = value;
        }
    }
}

size_t FakeLmSensors::Calls(const std::string& function)
{
    return g_calls.Get(function);
}

size_t FakeLmSensors::StaleUses()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_sensors.staleUses;
}

} // namespace bmctest

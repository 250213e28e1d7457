// Board configuration documents from arbitrary bytes, read for several firmware types and
// targets, and the same bytes taken as a record read back from a board and printed. A refused
// value must be an istd::Exception (or the slot lists' std::out_of_range and
// std::overflow_error); the byte-code areas must stay within their size. Anything else (another
// exception, a sanitizer report, an area length beyond its size) is a finding.


#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <string>

#include "bmc/config_mng.h"
#include "fuzz_support.h"
#include "istd/exception.h"

namespace {

std::string g_dir;

using fuzzsupport::Finding;

void CheckAreas(const bmc::BoardConfiguration& config)
{
    const bmc::BoardConfigRecord_t& r = config.record;
    if (r.baseBoard.hwInitLength > bmc::c_hwInitAreaSize || r.baseBoard.hwPostInitLength > bmc::c_hwInitAreaSize ||
        r.subsysBoard.hwInitLength > bmc::c_hwInitAreaSize) {
        Finding("area length beyond its size", std::to_string(r.baseBoard.hwInitLength));
    }
}

// Codes without a name in a record refuse to print; nothing else may go wrong.
void Print(const bmc::BoardConfiguration& config)
{
    std::ostringstream os;
    try {
        os << config;
    } catch (const istd::Exception& e) {
        if (std::string(e.what()) != "invalid value") {
            Finding("printer refused", e.what());
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/)
{
    g_dir = fuzzsupport::ScratchDir();
    std::cout.rdbuf(nullptr); // XML errors and script errors print; nobody reads them here
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // The bytes as a record read back from a board, under each printed layout.
    bmc::BoardConfiguration raw;
    std::memcpy(raw.Data(), data, std::min(size, bmc::BoardConfiguration::c_recordSize));
    for (bmc::FirmwareType_e firmware : {bmc::eFirmwareTypeKOZ, bmc::eFirmwareTypeWRP, bmc::eFirmwareTypeUnknown}) {
        raw.firmwareType = firmware;
        Print(raw);
    }

    const std::string input = g_dir + "/input.xml";
    {
        std::ofstream out(input, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    bmc::BoardConfig& document = bmc::BoardConfig::GetInstance();
    try {
        document.OpenDocument(input, false);
    } catch (const istd::Exception&) {
        return 0;
    }
    for (bmc::FirmwareType_e firmware : {bmc::eFirmwareTypeKOZ, bmc::eFirmwareTypeWRP, bmc::eFirmwareTypeHUMVA}) {
        for (const char* target : {"default", "cfgA"}) {
            bmc::ConfigMng reader{std::string(target)};
            reader.boardConfig.firmwareType = firmware;
            try {
                document.Read(reader);
            } catch (const istd::Exception&) {
            } catch (const std::out_of_range&) {
            } catch (const std::overflow_error&) {
            }
            CheckAreas(reader.boardConfig);
            Print(reader.boardConfig);
            (void)reader.BoardAndFirmwareTypesMatch();
        }
    }
    return 0;
}

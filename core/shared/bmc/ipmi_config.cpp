// The board configuration record's transfer over IPMI and the start of the hardware
// initialisation, all through the controller's configuration storage request.

#include <algorithm>
#include <cstring>

#include "istd/trace.h"
#include "bmc/ipmi_connection.h"
#include "bmc/ipmi_exception.h"

namespace bmc {

namespace {

constexpr uint8_t c_netFnStorage = 0x0A;
constexpr uint8_t c_cmdHwStorage = 0x70;

// Every storage request declares a whole frame of data: section, operation, offset (2 bytes),
// count, then the piece.
constexpr size_t c_requestLength = 59;
constexpr size_t c_pieceOffset = 5;
// A read answer fills a frame; a written piece shares its frame with the five leading bytes.
constexpr size_t c_readPiece = 59;
constexpr size_t c_writePiece = c_requestLength - c_pieceOffset;

const char* const c_cmdFailure = "bmc: hw init.: failed !";

} // namespace

void IpmiConnection::_HwInitRequest(Board_e section, HwInitCmdType_e operation, size_t offset, size_t count,
                                    const uint8_t* piece, ipmi_rs& response)
{
    ISTD_TRACE_FNC("void bmc::IpmiConnection::_HwInitRequest(bmc::Board_e, bmc::HwInitCmdType_e, size_t, size_t, "
                   "const uint8_t*, ipmi_rs&)");
    uint8_t data[c_requestLength] = {static_cast<uint8_t>(section), static_cast<uint8_t>(operation),
                                     static_cast<uint8_t>(offset), static_cast<uint8_t>(offset >> 8),
                                     static_cast<uint8_t>(count)};
    if (piece != nullptr) {
        std::memcpy(data + c_pieceOffset, piece, count);
    }
    _Transact(c_netFnStorage, c_cmdHwStorage, data, sizeof data, response);
}

void IpmiConnection::ReadConfiguration(BoardConfiguration& record)
{
    ISTD_TRACE_FNC("void bmc::IpmiConnection::ReadConfiguration(bmc::BoardConfiguration&)");
    HwInitReadProcedure(eBoardBase, record);
    // The base section just read tells whether there is a second one.
    if (record.IsSubsysPresent()) {
        HwInitReadProcedure(eBoardSubsys, record);
    }
}

void IpmiConnection::HwInitReadProcedure(Board_e section, BoardConfiguration& record)
{
    ISTD_TRACE_FNC("void bmc::IpmiConnection::HwInitReadProcedure(bmc::Board_e, bmc::BoardConfiguration&)");
    const size_t total = BoardConfiguration::SectionSize(section);
    uint8_t* destination = record.SectionData(section);
    size_t offset = 0;
    while (offset < total) {
        const size_t count = std::min(total - offset, c_readPiece);
        ipmi_rs response;
        _HwInitRequest(section, eHwInitRead, offset, count, nullptr, response);
        if (response.ccode != 0) {
            throw IpmiException(response.ccode, "bmc: hw init.: reading failed !", true);
        }
        if (response.dataLen != static_cast<int32_t>(count)) {
            throw IpmiException(0, "bmc: hw init.: read failed !", true);
        }
        std::memcpy(destination + offset, response.data, count);
        offset += count;
        ISTD_TRACE(1, "bmc: hw init.: " << offset << " bytes received of total: " << total);
    }
}

void IpmiConnection::WriteConfiguration(BoardConfiguration& record)
{
    ISTD_TRACE_FNC("void bmc::IpmiConnection::WriteConfiguration(bmc::BoardConfiguration&)");
    ISTD_TRACE(1, "bmc: hw init.: erasing...");
    const bool subsys = record.IsSubsysPresent();
    HwInitCmd(eBoardBase, eHwInitErase);
    if (subsys) {
        HwInitCmd(eBoardSubsys, eHwInitErase);
    }
    HwInitWriteProcedure(eBoardBase, record);
    if (subsys) {
        HwInitWriteProcedure(eBoardSubsys, record);
    }
}

void IpmiConnection::HwInitWriteProcedure(Board_e section, BoardConfiguration& record)
{
    ISTD_TRACE_FNC("void bmc::IpmiConnection::HwInitWriteProcedure(bmc::Board_e, bmc::BoardConfiguration&)");
    ISTD_TRACE(1, "bmc: hw init.: init.");
    HwInitCmd(section, eHwInitBeginWrite);
    record.StoreChecksums();
    ISTD_TRACE(1, "bmc: hw init.: writing");
    const size_t total = BoardConfiguration::SectionSize(section);
    const uint8_t* source = record.SectionData(section);
    size_t offset = 0;
    while (offset < total) {
        const size_t count = std::min(total - offset, c_writePiece);
        ipmi_rs response;
        _HwInitRequest(section, eHwInitWrite, offset, count, source + offset, response);
        offset += count;
        if (response.ccode != 0) {
            ISTD_TRACE(1, "bmc: hw init.: " << offset << " bytes send of total: " << total);
            throw IpmiException(response.ccode, "bmc: hw init.: write failed !", true);
        }
    }
    ISTD_TRACE(1, "bmc: hw init.: flush");
    HwInitCmd(section, eHwInitEndWrite);
}

void IpmiConnection::HwInitCmd(Board_e section, HwInitCmdType_e operation)
{
    ISTD_TRACE_FNC("void bmc::IpmiConnection::HwInitCmd(bmc::Board_e, bmc::HwInitCmdType_e)");
    ipmi_rs response;
    _HwInitRequest(section, operation, 0, 0, nullptr, response);
    if (response.ccode != 0) {
        throw IpmiException(response.ccode, c_cmdFailure, true);
    }
}

storage_hwstorage_hwinit_rsp IpmiConnection::InitHwInit(Board_e section)
{
    ISTD_TRACE_FNC("storage_hwstorage_hwinit_rsp bmc::IpmiConnection::InitHwInit(bmc::Board_e)");
    ipmi_rs response;
    _HwInitRequest(section, eHwInitRun, 0, 0, nullptr, response);
    if (response.ccode != 0) {
        throw IpmiException(response.ccode, c_cmdFailure, true);
    }
    // Only four bytes fit the result: a longer answer keeps its first four, a shorter one
    // leaves the rest 0.
    storage_hwstorage_hwinit_rsp answer{};
    const size_t supplied = response.dataLen > 0 ? static_cast<size_t>(response.dataLen) : 0;
    std::memcpy(answer.data, response.data, std::min(supplied, sizeof answer.data));
    return answer;
}

} // namespace bmc

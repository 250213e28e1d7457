// Arbitrary resource tables and data records as an OpenHPI daemon delivers them, through the
// enumeration of the modules (entity paths, tags, board types, the boards made and their
// identity) and the listing of data records, with tracing on so that every text is built.
// Input: [0] the number of resources (low 3 bits), [1] the entry the last one leads to (0xFF:
// none, else that entry), then the resource entries, then data records until the input ends;
// short inputs are padded with zeros. The seam answers every OpenHPI call in this process.
// Nothing may throw out of the enumeration or the listing; any sanitizer report is a finding.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "istd/trace.h"
#include "bmc/board.h"
#include "bmc/board_pool.h"
#include "bmc/hpi_connection.h"

namespace {

std::vector<SaHpiRptEntryT> g_entries;
std::vector<SaHpiRdrT> g_records;
SaHpiEntryIdT g_lastLeadsTo = SAHPI_LAST_ENTRY;

SaHpiVersionT VersionGet()
{
    return SAHPI_INTERFACE_VERSION;
}

SaErrorT SessionOpen(SaHpiDomainIdT, SaHpiSessionIdT* session, void*)
{
    *session = 1;
    return SA_OK;
}

SaErrorT Discover(SaHpiSessionIdT)
{
    return SA_OK;
}

SaErrorT SessionClose(SaHpiSessionIdT)
{
    return SA_OK;
}

// Entry ids are positions; the table's own EntryId fields are left as the input has them.
template <class T>
SaErrorT Get(const std::vector<T>& table, SaHpiEntryIdT entry, SaHpiEntryIdT* next, T* out)
{
    if (entry >= table.size()) {
        return SA_ERR_HPI_NOT_PRESENT;
    }
    *out = table[entry];
    *next = entry + 1 < table.size() ? entry + 1 : g_lastLeadsTo;
    return SA_OK;
}

SaErrorT RptEntryGet(SaHpiSessionIdT, SaHpiEntryIdT entry, SaHpiEntryIdT* next, SaHpiRptEntryT* rpt)
{
    return Get(g_entries, entry, next, rpt);
}

SaErrorT RdrGet(SaHpiSessionIdT, SaHpiResourceIdT, SaHpiEntryIdT entry, SaHpiEntryIdT* next, SaHpiRdrT* rdr)
{
    return Get(g_records, entry, next, rdr);
}

const bmc::HpiFunctions c_functions{&VersionGet, &SessionOpen, &Discover, &SessionClose, &RptEntryGet, &RdrGet};

template <class T>
void Take(const uint8_t*& data, size_t& size, T& out)
{
    std::memset(static_cast<void*>(&out), 0, sizeof out);
    const size_t n = size < sizeof out ? size : sizeof out;
    std::memcpy(static_cast<void*>(&out), data, n);
    data += n;
    size -= n;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    bmc::SetHpiFunctions(&c_functions);
    istd::TraceFile::Init("null", "/dev");
    istd::TraceFile::GetInstance().Start(istd::eTraceDetail);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    uint8_t header[2] = {0, 0xFF};
    const size_t n = size < 2 ? size : 2;
    std::memcpy(header, data, n);
    data += n;
    size -= n;
    g_lastLeadsTo = header[1] == 0xFF ? SAHPI_LAST_ENTRY : header[1];
    g_entries.assign(header[0] & 7u, SaHpiRptEntryT{});
    for (SaHpiRptEntryT& entry : g_entries) {
        Take(data, size, entry);
        // Every URI gets a connection that the pool keeps for good: few slots keep it small.
        entry.ResourceEntity.Entry[0].EntityLocation &= 7u;
    }
    g_records.clear();
    while (size > 0) {
        g_records.emplace_back();
        Take(data, size, g_records.back());
    }

    bmc::BoardMap boards = bmc::EnumerateHpiBoards();
    for (auto& entry : boards) {
        if (entry.second == nullptr || entry.second->GetStatus() != bmc::eBoardStatusRunning ||
            !entry.second->GetSensorsIds().empty()) {
            std::abort();
        }
        bmc::DeleteBoard(entry.second);
    }
    for (const SaHpiRptEntryT& entry : g_entries) {
        bmc::EnumerateSensors(entry);
    }
    return 0;
}

#ifndef BMC_HPI_CONNECTION_H
#define BMC_HPI_CONNECTION_H

// The modules of a MicroTCA chassis that an OpenHPI daemon manages: AMC modules, rear
// transition modules, cooling units, power supplies and MCHs.
//
// One HPI session serves the whole process. It is opened by the first enumeration or the first
// command on an HPI board, and closed when the last HpiConnection is destroyed (or when
// discovery fails). The daemon is the one the OpenHPI client library finds
// (OPENHPI_DAEMON_HOST, OPENHPI_DAEMON_PORT; localhost:4743 without them).
//
// EnumerateHpiBoards (declared in board_pool.h) walks the daemon's resource table and makes a
// board of every usable resource, named by the first element of its entity path:
//     AMC module (0x10019)       kvr:///amc/<location>
//     back panel board (0x0D)    kvr:///trm/<location>
//     cooling unit (0x1E)        kvr:///cu/<location>
//     power supply (0x0A)        kvr:///ps/<location>
//     switch blade, MCH (0x10007) kvr:///mch/<location>
// Its type is the board type whose name the resource tag holds exactly (blanks around it
// trimmed), else 244 "uTCA". Failed resources and other entity types give no board.
//
// An HpiConnection answers only what discovery gave: the identity (GetDeviceId: the type,
// firmware type 219 "HUMVA" for types up to 241 else 255, status "Running"), no sensors
// (GetSDRInfo 0), readings that carry only a time stamp, and the host's time. Power and SetTime
// are accepted and do nothing; every other command throws "bmc: Unsupported command (HPI).".
//
// Lock order: a connection's own mutex, then the session lock.

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include <openhpi/SaHpi.h>

#include "bmc/bmc_export.h"
#include "istd/any.h"
#include "bmc/connection.h"
#include "bmc/types.h"
#include "bmc/uri.h"

namespace bmc {

// OpenHPI's resource table entry, held by value.
using SaHpiRptEntryT = ::SaHpiRptEntryT;

// The OpenHPI calls the connections make. Real() holds OpenHPI's own; tests put others in place
// (SetHpiFunctions) to reach failures a daemon cannot be made to show.
struct BMC_API HpiFunctions {
    SaHpiVersionT (*versionGet)();
    SaErrorT (*sessionOpen)(SaHpiDomainIdT domain, SaHpiSessionIdT* session, void* securityParams);
    SaErrorT (*discover)(SaHpiSessionIdT session);
    SaErrorT (*sessionClose)(SaHpiSessionIdT session);
    SaErrorT (*rptEntryGet)(SaHpiSessionIdT session, SaHpiEntryIdT entry, SaHpiEntryIdT* next,
                            SaHpiRptEntryT* rptEntry);
    SaErrorT (*rdrGet)(SaHpiSessionIdT session, SaHpiResourceIdT resource, SaHpiEntryIdT entry,
                       SaHpiEntryIdT* next, SaHpiRdrT* rdr);

    static const HpiFunctions& Real();
};

// Puts the functions in place of OpenHPI's for every later call (null: OpenHPI's again). They
// must outlive their use; swap them only while no HPI command or enumeration runs.
BMC_API void SetHpiFunctions(const HpiFunctions* functions);

class BMC_API HpiConnection : public Connection {
public:
    // Counts the connection among the session's users; opens nothing.
    explicit HpiConnection(const Uri& uri);
    // The last connection destroyed closes the session.
    ~HpiConnection() override;

    // Opens the session unless it is open: "bmc: HPI error on open :<error>" or "bmc: HPI error
    // on discover :<error>" (the session is closed again then) on failure. OpenHPI's client
    // cannot open more than about a thousand sessions in a process (it aborts it then), so
    // after 500 opened or tried every further open is refused ("bmc: HPI error on open :no more
    // sessions for this process (500 opened)").
    void Open() override;
    // The session outlives single commands: nothing to do.
    void Close() override;

    // Under the connection's mutex: Open(), then the command.
    void Execute(unsigned int command, const std::vector<istd::AnyReference>& args,
                 istd::AnyReference result) override;

    // The resource the board was discovered as, and the type its tag named; the enumeration
    // sets both before the board is made. A connection never given a type reports 255 ("INVA"):
    // nothing was discovered for its URI.
    void SetHpiRptEntry(const SaHpiRptEntryT& entry);
    void SetBoardType(BoardType_e type);

private:
    std::mutex m_mutex;
    std::unique_ptr<SaHpiRptEntryT> m_rptEntry;
    BoardType_e m_boardType;
};

// Writes the resource's data records (type, inventory id, id string) to the trace at level 1;
// a resource without records writes nothing. Reads through the session as it is; changes
// nothing.
BMC_API void EnumerateSensors(const SaHpiRptEntryT& entry);

} // namespace bmc

#endif

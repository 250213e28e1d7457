#ifndef BMC_TESTS_HPI_SEAM_H
#define BMC_TESTS_HPI_SEAM_H

// Stand-ins for the OpenHPI calls of board management, in place while an HpiSeam lives. Each
// call is counted ("open", "discover", "close", "rpt", "rdr") and the session ids opened and
// closed are recorded. Unless the test asks for a failure, a call goes on to OpenHPI and so to
// the real daemon; with Fake() no call leaves the process: sessions are numbered here and the
// resource table is empty. The failures are those a daemon cannot be made to show.

#include <openhpi/SaHpi.h>

#include <atomic>
#include <mutex>
#include <vector>

#include "bmc/hpi_connection.h"
#include "call_counter.h"

namespace bmctest {

class HpiSeam {
public:
    struct Settings {
        bool fake = false;                   // answer everything here, no daemon
        SaErrorT openError = SA_OK;          // what sessionOpen returns instead of opening
        SaErrorT discoverError = SA_OK;      // what discover returns instead of discovering
        int rptCallsBeforeError = -1;        // rptEntryGet fails after this many calls (-1: never)
        SaErrorT rptError = SA_ERR_HPI_INTERNAL_ERROR;
        SaHpiEntryIdT rptLastLeadsTo = SAHPI_LAST_ENTRY; // the next id reported after the last entry
    };

    explicit HpiSeam(const Settings& settings);
    ~HpiSeam();
    HpiSeam(const HpiSeam&) = delete;
    HpiSeam& operator=(const HpiSeam&) = delete;

    static const CallCounter& Calls();
    static std::vector<SaHpiSessionIdT> Opened();
    static std::vector<SaHpiSessionIdT> Closed();
    // The most sessions the fake had open at one time.
    static int MostOpenAtOnce();
};

} // namespace bmctest

#endif

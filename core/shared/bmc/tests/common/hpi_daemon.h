#ifndef BMC_TESTS_HPI_DAEMON_H
#define BMC_TESTS_HPI_DAEMON_H

// A real OpenHPI daemon for tests: openhpid in the foreground on a loopback port, with the
// dynamic simulator plug-in serving a data file of ours. Its configuration (mode 600), UID map
// (OPENHPI_UID_MAP) and output lie in a temporary folder of its own.
//
// The OpenHPI client library reads the daemon's address (OPENHPI_DAEMON_HOST,
// OPENHPI_DAEMON_PORT) once per process, at its first call. So a process has one port, chosen
// free by ClientPort() before the first HPI call, and every daemon of the process listens
// there, one at a time: a test stops the daemon to show what a client sees without one, and
// starts another on the same port.
//
// The daemon never outlives its test: Stop and the destructor end it by its pid (SIGTERM, then
// SIGKILL), and it gets SIGKILL from the kernel when the test process dies first.

#include <sys/types.h>

#include <openhpi/SaHpi.h>

#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

namespace bmctest {

class HpiDaemon {
public:
    // A MicroTCA shelf: the shelf itself (entity 23, with a sensor and an inventory record),
    // AMC modules 5 "MOKVE", 6 "  HUMVA  ", 7 "mokve", 8 "Vendor AMC 42" (records announced,
    // none there), 9 "MOKVE" (failed), 10 "PELOX" and later, in a sub-chassis, 10 "NUSTA"; MCH 1
    // "MCH", power supply 1 "PM 1", cooling unit 1 "CU 1", rear transition module 5 "ZEK", and a
    // processor (entity 3).
    static const char* const c_chassisData;
    // The shelf alone: a table without a single usable resource.
    static const char* const c_shelfData;

    // The port of this process's daemons; the first call picks a free one and points the client
    // library at it.
    static int ClientPort();

    // Starts the daemon and waits until it accepts connections; throws std::runtime_error
    // with the daemon's output when it does not come up.
    explicit HpiDaemon(const std::string& dataFile = c_chassisData);
    ~HpiDaemon();
    HpiDaemon(const HpiDaemon&) = delete;
    HpiDaemon& operator=(const HpiDaemon&) = delete;

    // Ends the daemon and waits for it; nothing when it is not running.
    void Stop();
    // Starts it again (after Stop) with the same data.
    void Start();
    bool IsRunning() const { return m_pid > 0; }
    // What the daemon wrote so far.
    std::string Output() const;

private:
    testsupport::TempDir m_dir;
    std::string m_dataFile;
    pid_t m_pid = -1;
};

// The resource table of the running daemon, in its order, read in a client session of its own
// (straight through OpenHPI, past board management).
std::vector<SaHpiRptEntryT> ResourceTable();

} // namespace bmctest

#endif

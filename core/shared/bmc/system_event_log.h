#ifndef BMC_SYSTEM_EVENT_LOG_H
#define BMC_SYSTEM_EVENT_LOG_H

// A board's system event log, kept by its management controller: the summary (entries, free
// space, times of the last addition and erase), the entries by index counted from 1, and the
// erase. The board creates and owns its log. The log takes no lock: one thread uses a log at a
// time; the connection serialises its own requests.
//
// The summary is what the last UpdateInfo read: before the first one the log counts no entries
// and no free space, so GetEntry refuses every index until the summary has been read.

#include <cstdint>
#include <ostream>
#include <vector>

#include "bmc/bmc_export.h"
#include "istd/time.h"
#include "bmc/sel_reading.h"

namespace bmc {

class Board;

class BMC_API SystemEventLog {
public:
    explicit SystemEventLog(Board& board);
    SystemEventLog(const SystemEventLog&) = delete;
    SystemEventLog& operator=(const SystemEventLog&) = delete;

    // Reads the summary (command 17).
    void UpdateInfo();
    // Erases the log on the controller (command 18); the stored summary stays as it was.
    void Clear();
    // The entry of index (command 19), against the stored summary: an index above the entry
    // count throws "bmc:: SEL index too big.", one below 1 "bmc:: SEL index < 1.".
    SelReading GetEntry(int index) const;
    // UpdateInfo, then GetEntry.
    SelReading Read(int index);
    // UpdateInfo, then the entries of the indexes in their order; the first failure ends the
    // call and discards what was read.
    std::vector<SelReading> ReadMany(const std::vector<int>& indexes);
    // UpdateInfo, then the first count entries oldest first, or the last count newest first
    // (all of them for a negative count, as many as there are for a larger one).
    std::vector<SelReading> ReadMany(int count, bool newestFirst);

    Board& GetBoard() const { return m_board; }
    uint16_t GetEntries() const { return m_entries; }
    // Bytes; 0xFFFF stands for 65535 or more.
    uint16_t GetFreeSpace() const { return m_freeSpace; }
    const istd::Time& GetLastAddition() const { return m_lastAddition; }
    const istd::Time& GetLastErase() const { return m_lastErase; }

private:
    Board& m_board;
    uint16_t m_entries = 0;
    uint16_t m_freeSpace = 0;
    istd::Time m_lastAddition;
    istd::Time m_lastErase;
};

// The stored summary, six lines, without refreshing it.
BMC_API std::ostream& operator<<(std::ostream& os, const SystemEventLog& log);

} // namespace bmc

#endif

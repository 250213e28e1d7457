#ifndef BMC_BOARD_POOL_H
#define BMC_BOARD_POOL_H

// The two process-wide pools that own every connection and every board of board management.
//
//     bmc::BoardPool& pool = bmc::BoardPool::Instance();   // the first call enumerates
//     for (const bmc::Uri& uri : pool.GetAllLocalBoardUris()) {
//         bmc::Board* board = pool.GetBoard(uri);           // borrowed until the next Update
//         ...
//     }
//
// Lock order: board pool, then connection pool, then a connection's own mutex. Boards are
// constructed under the board pool's mutex, connections under the connection pool's.

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "bmc/bmc_export.h"
#include "bmc/board.h"
#include "bmc/connection.h"
#include "bmc/types.h"
#include "bmc/uri.h"

namespace bmc {

// Boards by URI, ordered by the URI's text. A map handed from one owner to another (an
// enumeration to the pool) carries the ownership of its boards with it.
using BoardMap = std::map<Uri, Board*>;

// The name the pool gives every board it creates (empty: each board names itself).
extern BMC_API const std::string c_defaultBoardName;

class BMC_API ConnectionPool {
public:
    // The one pool, made on first use and destroyed at exit with every connection in it.
    static ConnectionPool& Instance();

    ConnectionPool(const ConnectionPool&) = delete;
    ConnectionPool& operator=(const ConnectionPool&) = delete;

    // The URI's connection, made on first use and kept until exit; null when no kind of
    // connection fits the URI (a later call tries again).
    Connection* GetConnection(const Uri& uri);
    // The connection to the chassis manager, chassis slot 0 (c_localKozUri).
    Connection* GetLocalKOZConnection();
    // A new connection for the URI, owned by the caller, or null: a URI that is not local gets
    // none; otherwise by subsystem and interface: chassis with no interface or "ipmi-usb": IPMI
    // over USB; "amc" with no interface or "hpi", and "trm", "cu", "ps", "mch" with any: OpenHPI;
    // the host ("os"): its operating system; "test" with any: the test connection. Every other
    // combination gives null.
    Connection* CreateConnection(const Uri& uri);

private:
    ConnectionPool();
    ~ConnectionPool();

    std::map<Uri, std::unique_ptr<Connection>> m_connections;
    std::mutex m_mutex;
};

class BMC_API BoardPool {
public:
    // The one pool; the first call constructs it and enumerates the boards (Update), so it
    // waits for the whole enumeration and passes on what Update throws. Destroyed at exit,
    // before the connection pool, with every board in it.
    static BoardPool& Instance();

    BoardPool(const BoardPool&) = delete;
    BoardPool& operator=(const BoardPool&) = delete;

    // The board of the URI, created on first use (powered, named by itself); null when none can
    // be had. A board that ends up defective (status 255; a URI without a connection gives one)
    // is deleted and its URI answers null until the next Update, but for a "test" URI, whose
    // board is kept whatever its status. A constructor's exception passes on, nothing stored.
    Board* GetBoard(const Uri& uri);
    // The URIs of all boards held whose URI is local, in URI order.
    std::vector<Uri> GetAllLocalBoardUris() const;
    // Deletes every board (every Board* handed out before becomes invalid) and enumerates
    // anew: the host, the occupied chassis slots, then the OpenHPI boards. On any URI entered
    // twice the first board stays and the other is deleted.
    void Update();

private:
    BoardPool();
    ~BoardPool();

    void UpdateBoards();
    // Enters the boards of the map whose URI is not held yet and deletes the others.
    void _Merge(BoardMap boards);

    std::map<Uri, std::unique_ptr<Board>> m_boards; // a null entry: known URI, no usable board
    mutable std::mutex m_mutex;
};

// A new board of the URI (see Board); a constructor's exception passes on, nothing left.
BMC_API Board* CreateBoard(const Uri& uri, BoardPowerStatus_e powerStatus, const std::string& name);
// Deletes the board; null is ignored.
BMC_API void DeleteBoard(Board* board);

// The occupied chassis slots as the chassis manager's connection reports them (command 16):
// a board for every slot whose presence bit is set, with its power status from the slot masks.
// A failing command 16 is traced and gives no boards; a slot whose board throws istd::Exception
// is left out after "exception <slot>" on standard output. Any other exception passes on and
// leaves nothing allocated. The caller owns the boards returned.
BMC_API BoardMap EnumerateArchBBoards(Connection& koz);

// The boards an OpenHPI daemon reports (hpi_connection.h), owned by the caller: one per usable
// resource, powered and named by the resource's tag. Of two resources with the same URI the
// later one's board is kept and the earlier one deleted. Nothing of the standard exception
// family leaves it: a failure is traced and the boards made before it are returned.
BMC_API BoardMap EnumerateHpiBoards();

// Whether the board of the URI is reached through the HPI daemon (a local AMC module with the
// default or the HPI interface, a rear transition module, cooling unit, power supply or MCH).
BMC_API bool UsesHpi(const Uri& uri);

// The OpenHPI client library's own messages (its "transport", "baselib", "utils" and "marshal"
// lines, which glib would print on standard error, such as the failed connection to a daemon
// that is not there at every enumeration) go to the trace at level 1 from the first session on.
// With logged set they also go to the log, as warnings ("HPI library: <domain>: <text>"): for
// a program whose boards are reached through HPI, where they tell why a board is missing.
BMC_API void LogHpiLibraryMessages(bool logged);

} // namespace bmc

#endif

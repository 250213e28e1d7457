#include "bmc/board_pool.h"

#include <iostream>
#include <utility>

#include "istd/exception.h"
#include "istd/trace.h"
#include "bmc/ipmi_connection.h"
#include "bmc/ipmi_usb_connection.h"
#include "bmc/hpi_connection.h"
#include "bmc/os_connection.h"
#include "bmc/test_connection.h"

namespace bmc {

const std::string c_defaultBoardName;

namespace {

constexpr int c_chassisSlots = 32;

// Owns the boards of a map under construction until it is handed on, so that an exception
// leaves nothing allocated.
class BoardMapGuard {
public:
    BoardMapGuard() = default;
    BoardMapGuard(const BoardMapGuard&) = delete;
    BoardMapGuard& operator=(const BoardMapGuard&) = delete;
    ~BoardMapGuard()
    {
        for (auto& entry : m_map) {
            DeleteBoard(entry.second);
        }
    }

    // Takes the board; one already held under the URI stays and the new one is deleted.
    void Put(const Uri& uri, Board* board)
    {
        std::unique_ptr<Board> owned(board);
        if (m_map.emplace(uri, board).second) {
            owned.release();
        }
    }

    BoardMap Release() { return std::exchange(m_map, BoardMap()); }

private:
    BoardMap m_map;
};

} // namespace

// The connection pool.

ConnectionPool& ConnectionPool::Instance()
{
    static ConnectionPool s_pool;
    return s_pool;
}

ConnectionPool::ConnectionPool() = default;

ConnectionPool::~ConnectionPool() = default;

Connection* ConnectionPool::GetConnection(const Uri& uri)
{
    ISTD_TRACE_FNC("bmc::Connection* bmc::ConnectionPool::GetConnection(const bmc::Uri&)");
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto found = m_connections.find(uri);
    if (found != m_connections.end() && found->second) {
        return found->second.get();
    }
    std::unique_ptr<Connection> connection(CreateConnection(uri));
    if (!connection) {
        return nullptr;
    }
    Connection* made = connection.get();
    m_connections[uri] = std::move(connection);
    return made;
}

Connection* ConnectionPool::GetLocalKOZConnection()
{
    return GetConnection(c_localKozUri);
}

Connection* ConnectionPool::CreateConnection(const Uri& uri)
{
    ISTD_TRACE_FNC("bmc::Connection* bmc::ConnectionPool::CreateConnection(const bmc::Uri&)");
    if (!uri.IsLocal()) {
        return nullptr;
    }
    if (UsesHpi(uri)) {
        return new HpiConnection(uri);
    }
    const Uri::Interface_e interface = uri.GetInterface();
    switch (uri.GetSubSystem()) {
    case Uri::eChassis:
        if (interface == Uri::eInterfaceDefault || interface == Uri::eInterfaceIpmiUsb) {
            return new IpmiUsbConnection(uri);
        }
        return nullptr;
    case Uri::eOs:
        return new OsConnection(uri);
    case Uri::eAmc:
    case Uri::eTrm:
    case Uri::eCu:
    case Uri::ePs:
    case Uri::eMch:
        return nullptr; // another interface than HPI's
    case Uri::eTest:
        return new TestConnection(uri);
    case Uri::eUnknown:
        return nullptr;
    }
    return nullptr;
}

// Boards.

Board* CreateBoard(const Uri& uri, BoardPowerStatus_e powerStatus, const std::string& name)
{
    ISTD_TRACE_FNC("bmc::Board* bmc::CreateBoard(const bmc::Uri&, bmc::BoardPowerStatus_e, const std::string&)");
    return new Board(uri, powerStatus, name);
}

void DeleteBoard(Board* board)
{
    delete board;
}

BoardMap EnumerateArchBBoards(Connection& koz)
{
    ISTD_TRACE_FNC("bmc::BoardMap bmc::EnumerateArchBBoards()");
    BoardBriefStatusMap status;
    try {
        koz.Execute(eCmdGetBoardBriefStatus, Connection::m_noArgs, istd::AnyReference(status));
    } catch (const istd::Exception& e) {
        ISTD_TRACE(1, "bmc: Error communicating to local KOZ: " << e.what());
        return BoardMap();
    }
    BoardMapGuard boards;
    if (status.presenceMask.none()) {
        ISTD_TRACE(1, "No chassis boards available on platform B.");
        return boards.Release();
    }
    for (int slot = 0; slot < c_chassisSlots; ++slot) {
        if (!status.presenceMask.test(static_cast<size_t>(slot))) {
            continue;
        }
        const Uri uri = CreateLocalChassisUri(slot, Uri::eInterfaceDefault);
        try {
            boards.Put(uri, CreateBoard(uri, ConvPwrBitmaskToStat(status, slot), c_defaultBoardName));
        } catch (const istd::Exception&) {
            std::cout << "exception " << slot << std::endl;
        }
    }
    return boards.Release();
}

// The board pool.

BoardPool& BoardPool::Instance()
{
    static BoardPool s_pool;
    return s_pool;
}

BoardPool::BoardPool()
{
    // The connection pool is made first so that it outlives the boards, which borrow its
    // connections, at exit.
    ConnectionPool::Instance();
    Update();
}

BoardPool::~BoardPool() = default;

Board* BoardPool::GetBoard(const Uri& uri)
{
    ISTD_TRACE_FNC("bmc::Board* bmc::BoardPool::GetBoard(const bmc::Uri&)");
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto found = m_boards.find(uri);
    if (found != m_boards.end()) {
        return found->second.get();
    }
    std::unique_ptr<Board> board(CreateBoard(uri, eBoardPowerMngMain, c_defaultBoardName));
    if (uri.GetSubSystem() != Uri::eTest && board->GetStatus() == eBoardStatusDefective) {
        board.reset();
    }
    Board* result = board.get();
    m_boards.emplace(uri, std::move(board));
    return result;
}

std::vector<Uri> BoardPool::GetAllLocalBoardUris() const
{
    ISTD_TRACE_FNC("std::vector<bmc::Uri> bmc::BoardPool::GetAllLocalBoardUris() const");
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<Uri> uris;
    for (const auto& entry : m_boards) {
        if (entry.second && entry.first.IsLocal()) {
            uris.push_back(entry.first);
        }
    }
    return uris;
}

void BoardPool::Update()
{
    ISTD_TRACE_FNC("void bmc::BoardPool::Update()");
    UpdateBoards();
}

void BoardPool::UpdateBoards()
{
    ISTD_TRACE_FNC("void bmc::BoardPool::UpdateBoards()");
    std::lock_guard<std::mutex> lock(m_mutex);
    m_boards.clear();

    std::unique_ptr<Board> host(CreateBoard(c_localOSUri, eBoardPowerMngMain, c_defaultBoardName));
    if (host) {
        m_boards.emplace(c_localOSUri, std::move(host));
    }

    Connection* koz = ConnectionPool::Instance().GetLocalKOZConnection();
    if (koz != nullptr) {
        _Merge(EnumerateArchBBoards(*koz));
    }
    _Merge(EnumerateHpiBoards());
}

void BoardPool::_Merge(BoardMap boards)
{
    // Each board is owned here from the start, so one that is not entered, or an insertion
    // that throws, frees it.
    std::map<Uri, std::unique_ptr<Board>> owned;
    for (auto& entry : boards) {
        owned.emplace(entry.first, std::unique_ptr<Board>(entry.second));
    }
    for (auto& entry : owned) {
        if (m_boards.find(entry.first) == m_boards.end()) {
            m_boards.emplace(entry.first, std::move(entry.second));
        }
    }
}

} // namespace bmc

#ifndef BMC_BOARD_H
#define BMC_BOARD_H

#include "bmc/uri.h"

namespace bmc {

class Connection;

// One board of the system. So far it holds what its sensors use: its URI and the connection it
// is reached through (borrowed; null when no kind of connection fits the URI).
class Board {
public:
    Board(const Uri& uri, Connection* connection);
    Board(const Board&) = delete;
    Board& operator=(const Board&) = delete;
    virtual ~Board();

    const Uri& GetUri() const;
    Connection* GetConnection();

private:
    Uri m_uri;
    Connection* m_connection;
};

} // namespace bmc

#endif

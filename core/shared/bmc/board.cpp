#include "bmc/board.h"

namespace bmc {

Board::Board(const Uri& uri, Connection* connection) : m_uri(uri), m_connection(connection)
{
}

Board::~Board() = default;

const Uri& Board::GetUri() const
{
    return m_uri;
}

Connection* Board::GetConnection()
{
    return m_connection;
}

} // namespace bmc

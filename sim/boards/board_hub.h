#pragma once
// What the register models of a simulated board reach the board object through. A model stays
// attached to its window after the board object is gone (a window stays served until the
// chassis goes), so it holds the hub, never the board; once the board detaches, nothing reaches
// it any more. The hub also carries the board's line sink, to which its models report.
//
//     class MyBoard::Hub : public BoardHub<MyBoard> {
//     public:
//         using BoardHub::BoardHub;
//         void Pulse() { With([](MyBoard& board) { board._Pulse(); }); }
//     };
//     ~MyBoard() { m_hub->Detach(); }

#include <functional>
#include <mutex>
#include <string>
#include <utility>

namespace sim::boards {

template <class BOARD>
class BoardHub {
public:
    using LineSink = std::function<void(const std::string&)>;

    explicit BoardHub(BOARD* board) : m_board(board) {}

    // Calls f(board) under the hub's lock; nothing once the board detached.
    template <class F>
    void With(F f)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_board != nullptr) {
            f(*m_board);
        }
    }
    // Hands the line to the sink, if there is one, under the hub's lock.
    void Line(const std::string& line)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_sink) {
            m_sink(line);
        }
    }
    void SetSink(LineSink sink)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_sink = std::move(sink);
    }
    // The board goes: no call reaches it or its sink from now on.
    void Detach()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_board = nullptr;
        m_sink = nullptr;
    }

private:
    std::mutex m_mutex;
    BOARD* m_board;
    LineSink m_sink;
};

} // namespace sim::boards

#ifndef ISTD_GROWING_RING_H
#define ISTD_GROWING_RING_H

// A first-in first-out ring that only grows, so that a queue in steady use allocates nothing per
// element: it doubles when full (from 8 slots), up to a limit its user may set, and never beyond
// what one more element needs.

#include <algorithm>
#include <cstddef>
#include <limits>
#include <utility>
#include <vector>

namespace istd {

template <class T>
class GrowingRing {
public:
    bool empty() const { return m_size == 0; }
    size_t size() const { return m_size; }
    // The oldest element; the ring must not be empty.
    T& front() { return m_ring[m_head]; }
    // Drops the oldest element; its slot is left empty, so that it holds on to nothing.
    void pop_front()
    {
        m_ring[m_head] = T();
        m_head = (m_head + 1) % m_ring.size();
        --m_size;
    }
    // Growing, the ring takes at most `limit` slots (but always one more than it holds).
    void push_back(T&& value, size_t limit = std::numeric_limits<size_t>::max())
    {
        if (m_size == m_ring.size()) {
            _Grow(std::max(std::min(limit, std::max<size_t>(2 * m_ring.size(), 8)), m_size + 1));
        }
        m_ring[(m_head + m_size) % m_ring.size()] = std::move(value);
        ++m_size;
    }
    void clear()
    {
        for (T& slot : m_ring) {
            slot = T();
        }
        m_head = 0;
        m_size = 0;
    }

private:
    void _Grow(size_t slots)
    {
        std::vector<T> ring(slots);
        for (size_t i = 0; i < m_size; ++i) {
            ring[i] = std::move(m_ring[(m_head + i) % m_ring.size()]);
        }
        m_ring = std::move(ring);
        m_head = 0;
    }

    std::vector<T> m_ring; // m_size elements from m_head on, oldest first
    size_t m_head = 0;
    size_t m_size = 0;
};

} // namespace istd

#endif

#ifndef ISTD_ID_H
#define ISTD_ID_H

// Process-wide ids per tag: each default-constructed Id<Tag> takes the next value of the tag's
// counter under the counter's mutex, so the first id of a tag is 1.
//
// The counter of a tag belongs to the library that owns the tag. Declare it in the tag's
// header and define it in one source file, both at global scope:
//     ISTD_DECLARE_ID_COUNTER(mci::IdIregTreeNode)   // header
//     ISTD_DEFINE_ID_COUNTER(mci::IdIregTreeNode)    // source
// The macros are for the default value type uint64_t (Id<Tag>, the same type as
// Id<Tag, uint64_t>).

#include <cstdint>
#include <mutex>

#include "istd/istd_export.h"

namespace istd {

template <class Tag, class T = uint64_t>
class Id {
public:
    Id()
    {
        std::lock_guard<std::mutex> lock(m_lastValue_x);
        m_value = ++m_lastValue;
    }

    T Value() const noexcept { return m_value; }

    friend bool operator<(const Id& a, const Id& b) noexcept { return a.m_value < b.m_value; }
    friend bool operator==(const Id& a, const Id& b) noexcept { return a.m_value == b.m_value; }
    friend bool operator!=(const Id& a, const Id& b) noexcept { return a.m_value != b.m_value; }

    // Declared only; the owning library defines them with ISTD_DEFINE_ID_COUNTER.
    static T m_lastValue;
    static std::mutex m_lastValue_x;

private:
    T m_value;
};

} // namespace istd

// Exported from the library that defines them, so that every library and application that
// makes ids of the tag counts on the one counter.
#define ISTD_DECLARE_ID_COUNTER(Tag)                               \
    template <>                                                    \
    ISTD_EXPORTED uint64_t istd::Id<Tag, uint64_t>::m_lastValue;   \
    template <>                                                    \
    ISTD_EXPORTED std::mutex istd::Id<Tag, uint64_t>::m_lastValue_x;

#define ISTD_DEFINE_ID_COUNTER(Tag)                      \
    template <>                                          \
    uint64_t istd::Id<Tag, uint64_t>::m_lastValue = 0;   \
    template <>                                          \
    std::mutex istd::Id<Tag, uint64_t>::m_lastValue_x{};

#endif

#ifndef INET_COUNTED_SERVANT_H
#define INET_COUNTED_SERVANT_H

// A servant whose references are counted by the servant itself, in a std::atomic, in place of
// omniORB's counter; the rules are the ORB's (the count starts at 1, _add_ref and _remove_ref
// as the ORB and its users call them, the servant deleted when the count drops to 0):
//
//     class i_Thing_impl : public inet::CountedServant<POA_i_NET::Thing> { ... };
//
// omniORB changes its counter inside the ORB library with atomic operations that
// ThreadSanitizer cannot see. A servant that one thread uses and then releases while the ORB,
// on another thread, drops the last reference at the end of a request and deletes it, looked
// to ThreadSanitizer like a race between that use and the destructor. Counted here, the
// release and the deletion are ordered where it can see them.

#include <omniORB4/CORBA.h>

#include <atomic>

namespace inet {

template <class Skeleton>
class CountedServant : public Skeleton {
public:
    void _add_ref() override { m_references.fetch_add(1, std::memory_order_relaxed); }

    void _remove_ref() override
    {
        if (m_references.fetch_sub(1, std::memory_order_acq_rel) == 1) {
            delete this;
        }
    }

    CORBA::ULong _refcount_value() override { return m_references.load(std::memory_order_relaxed); }

protected:
    CountedServant() = default;
    ~CountedServant() override = default;

private:
    std::atomic<CORBA::ULong> m_references{1};
};

} // namespace inet

#endif

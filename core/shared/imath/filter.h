#ifndef IMATH_FILTER_H
#define IMATH_FILTER_H

#include <cstdint>
#include <vector>

#include <omnithread.h>

#include "imath/imath_export.h"
#include "imath/io_system.h"
#include "imath/transfer_function.h"

namespace imath {

// An IIR filter of fixed order in direct form II over a circular state buffer. Steps,
// coefficient changes and resets may come from different threads; each is atomic.
class IMATH_API Filter : public IOSystem {
public:
    // Starts with all coefficients 0, so that it outputs 0 until a transfer function is set.
    explicit Filter(unsigned order);
    ~Filter() override;

    Filter(const Filter&) = delete;
    Filter& operator=(const Filter&) = delete;

    // One step; allocates nothing. The summation order is fixed, so equal coefficients and
    // inputs give bit-equal outputs.
    double Step(double x) override;

    // Takes a normalised copy of tf, which must be of the filter's order ("Filter::
    // SetTransferFunction: Vector size mismatch!" otherwise). The state is kept, so the new
    // coefficients act on the existing history. On any error the old coefficients stay.
    void SetTransferFunction(const TransferFunction& tf);

    // A copy taken under the filter's lock: never half of an old and half of a new set.
    TransferFunction GetTransferFunction() const;

    // Clears the history: the next step behaves as the first step of a new filter.
    void Reset();

private:
    uint32_t m_length;
    uint32_t m_position;
    TransferFunction m_tf;
    std::vector<double> m_state;
    mutable omni_mutex m_mutex;
};

} // namespace imath

#endif

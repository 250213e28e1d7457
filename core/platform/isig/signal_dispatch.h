#ifndef ISIG_SIGNAL_DISPATCH_H
#define ISIG_SIGNAL_DISPATCH_H

// The producer's side of a signal: typed entries through which values of any base type are
// pushed into a stream.

#include <cstdint>

#include "isig/isig_export.h"
#include "isig/signal_types.h"

// Calls X(type) for each of the ten base types of signal values, in the order of every typed
// overload set of this library.
#define ISIG_FOR_EACH_BASE_TYPE(X) \
    X(double)                      \
    X(float)                       \
    X(uint64_t)                    \
    X(int64_t)                     \
    X(uint32_t)                    \
    X(int32_t)                     \
    X(uint16_t)                    \
    X(int16_t)                     \
    X(uint8_t)                     \
    X(int8_t)

namespace isig {

class ISIG_API SignalDispatchBase {
public:
    virtual ~SignalDispatchBase();

    // Cancels every client with the code. A class that is also a SignalSource overrides both
    // bases' Cancel with one function.
    virtual void Cancel(SuccessCode_e code) = 0;

    // Hands `count` values with their metadata to the stream. A stream overrides the overload
    // of its own base type; the others throw "isig: Dispatch of <type> not supported", so that
    // values of a wrong type are never dropped silently.
    virtual void Dispatch(const double* values, unsigned count, const SignalMeta& meta);
    virtual void Dispatch(const float* values, unsigned count, const SignalMeta& meta);
    virtual void Dispatch(const uint64_t* values, unsigned count, const SignalMeta& meta);
    virtual void Dispatch(const int64_t* values, unsigned count, const SignalMeta& meta);
    virtual void Dispatch(const uint32_t* values, unsigned count, const SignalMeta& meta);
    virtual void Dispatch(const int32_t* values, unsigned count, const SignalMeta& meta);
    virtual void Dispatch(const uint16_t* values, unsigned count, const SignalMeta& meta);
    virtual void Dispatch(const int16_t* values, unsigned count, const SignalMeta& meta);
    virtual void Dispatch(const uint8_t* values, unsigned count, const SignalMeta& meta);
    virtual void Dispatch(const int8_t* values, unsigned count, const SignalMeta& meta);
};

} // namespace isig

#endif

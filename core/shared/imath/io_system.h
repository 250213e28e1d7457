#ifndef IMATH_IO_SYSTEM_H
#define IMATH_IO_SYSTEM_H

#include "imath/imath_export.h"

namespace imath {

// A discrete-time system that maps one input sample to one output sample.
class IMATH_API IOSystem {
public:
    virtual ~IOSystem();
    virtual double Step(double x) = 0;
};

} // namespace imath

#endif

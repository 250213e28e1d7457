#ifndef IMATH_TRANSFER_FUNCTION_H
#define IMATH_TRANSFER_FUNCTION_H

#include <vector>

#include "imath/imath_export.h"

namespace imath {

// A rational transfer function in powers of the unit delay:
//   H(z) = (b0 + b1 z^-1 + ... + bN z^-N) / (a0 + a1 z^-1 + ... + aN z^-N)
// Both coefficient vectors have order+1 entries for the whole life of the object.
class IMATH_API TransferFunction {
public:
    explicit TransferFunction(unsigned order);
    virtual ~TransferFunction();

    TransferFunction(const TransferFunction&) = default;
    TransferFunction& operator=(const TransferFunction&) = default;

    const std::vector<double>& GetNumerator() const { return m_numerator; }
    const std::vector<double>& GetDenominator() const { return m_denominator; }

    // Throw "TransferFunction::Set...: Vector size mismatch!" for an index past the end.
    void SetNumerator(unsigned index, double value);
    void SetDenominator(unsigned index, double value);

    // Divides every coefficient by a0 so that a0 becomes 1. An a0 within the double epsilon of 1
    // is left as it is; an a0 below the epsilon in magnitude, or not finite, throws "a(0) = 0!"
    // and changes nothing.
    void Normalize();

private:
    std::vector<double> m_numerator;
    std::vector<double> m_denominator;
};

} // namespace imath

#endif

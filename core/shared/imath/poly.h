#ifndef IMATH_POLY_H
#define IMATH_POLY_H

#include <complex>

#include "imath/imath_export.h"

namespace imath {

// Value at x of c[0] x^(count-1) + ... + c[count-1] (Horner's rule). A count of 0 or less is the
// empty polynomial and gives 0 without reading c.
IMATH_API double poly_eval(const double* c, int count, double x);

// The n complex roots of the monic polynomial x^n + c[0] x^(n-1) + ... + c[n-1] (the leading 1
// is not passed), as the eigenvalues of its companion matrix in the solver's order. roots has
// room for n values. Throws istd::Exception when the solver finds no finite roots (it does not
// converge for coefficients that are not finite), std::bad_alloc when memory runs out. n <= 0
// writes nothing.
IMATH_API void poly_roots(const double* c, int n, std::complex<double>* roots);

// The real ones among those roots (imaginary part below the double epsilon in magnitude), in
// the solver's order, and their count. real has room for n values.
IMATH_API void poly_real_roots(const double* c, int n, double* real, int& count);

} // namespace imath

#endif

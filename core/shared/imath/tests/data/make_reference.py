#!/usr/bin/python3
"""Writes the reference vectors of the math library's tests into this folder.

Run by hand (the tests read the committed CSV files; the build needs no Python):
    /usr/bin/python3 core/shared/imath/tests/data/make_reference.py
Needs Debian's python3-numpy and python3-scipy. The seed is fixed, so a run on the same
versions writes the same files.

Every file: lines starting with '#' are comments; every other line is
    id,field,value,value,...
with the values in the shortest text that reads back to the same double.
"""

import os

import numpy as np
import scipy
import scipy.signal

HERE = os.path.dirname(os.path.abspath(__file__))
RNG = np.random.default_rng(20240529)


def row(out, ident, field, values):
    out.write(",".join([ident, field] + [repr(float(v)) for v in values]) + "\n")


def header(out, lines):
    out.write("# Written by make_reference.py (numpy %s, scipy %s); do not edit.\n"
              % (np.__version__, scipy.__version__))
    for line in lines:
        out.write("# " + line + "\n")


def stable_denominator(order):
    """A polynomial in z^-1 with every pole inside the circle of radius 0.8, times a random a0."""
    poles = []
    while len(poles) + 2 <= order:
        p = RNG.uniform(0.2, 0.8) * np.exp(1j * RNG.uniform(0.0, np.pi))
        poles += [p, np.conj(p)]
    if len(poles) < order:
        poles.append(RNG.uniform(-0.8, 0.8))
    a = np.real(np.poly(poles)) if poles else np.array([1.0])
    return a * RNG.uniform(0.5, 2.0)


def write_lfilter():
    with open(os.path.join(HERE, "lfilter.csv"), "w") as out:
        header(out, [
            "scipy.signal.lfilter(b, a, x) over random stable filters: b normal, poles inside",
            "radius 0.8, a0 random in [0.5, 2] (the filter must normalise), x normal, 1000 samples.",
            "Fields: b, a (coefficients of z^0 .. z^-N), x (input), y (output).",
        ])
        for order in (0, 1, 2, 5, 8, 32):
            b = RNG.normal(size=order + 1)
            a = stable_denominator(order)
            x = RNG.normal(size=1000)
            y = scipy.signal.lfilter(b, a, x)
            ident = "order%d" % order
            row(out, ident, "b", b)
            row(out, ident, "a", a)
            row(out, ident, "x", x)
            row(out, ident, "y", y)


def write_roots():
    with open(os.path.join(HERE, "roots.csv"), "w") as out:
        header(out, [
            "numpy.roots of monic polynomials x^n + c0 x^(n-1) + ... + c(n-1).",
            "Fields: tol (tolerance), c (the n coefficients after the leading 1), re and im (roots).",
            "Compare as sets: the solvers' orders differ. A root matches when |got - want| <=",
            "tol * max(1, |want|).",
            "Simple roots: tol 1e-9. numpy balances the matrix before its QR iteration and the",
            "library does not, so they round differently, but simple roots of these polynomials",
            "are well conditioned and agree to better than 1e-14.",
            "Clustered roots: a root of multiplicity m moves by about eps^(1/m) when the",
            "coefficients are rounded (6e-6 for a triple root, 1e-8 for a double one), and the two",
            "solvers move it differently: tol 1e-4 for the triple root, 1e-6 for the double roots.",
        ])
        for n in range(2, 11):
            c = RNG.normal(size=n)
            r = np.roots(np.concatenate(([1.0], c)))
            ident = "degree%d" % n
            row(out, ident, "tol", [1e-9])
            row(out, ident, "c", c)
            row(out, ident, "re", r.real)
            row(out, ident, "im", r.imag)
        clustered = (
            ("triple", 1e-4, [1.0, 1.0, 1.0, -2.0]),
            ("double_pairs", 1e-6, [0.5, 0.5, -1.5, -1.5, 3.0]),
        )
        for ident, tol, zeros in clustered:
            full = np.poly(zeros)
            r = np.roots(full)
            row(out, ident, "tol", [tol])
            row(out, ident, "c", full[1:])
            row(out, ident, "re", r.real)
            row(out, ident, "im", r.imag)


def write_stddev():
    with open(os.path.join(HERE, "stddev.csv"), "w") as out:
        header(out, [
            "numpy.std(values, ddof=0): the population standard deviation, in double precision.",
            "Fields: uint (values of a std::vector<unsigned int>) or float (values of a",
            "std::list<float>, already rounded to single precision), std (the deviation).",
        ])
        sets = (
            ("uint_small", "uint", RNG.integers(0, 1000, size=100)),
            ("uint_wide", "uint", RNG.integers(0, 2 ** 20, size=1000)),
            ("uint_one", "uint", [42]),
            ("float_normal", "float", RNG.normal(size=257).astype(np.float32)),
            ("float_offset", "float", (3.0 + RNG.normal(size=64)).astype(np.float32)),
        )
        for ident, kind, values in sets:
            values = np.asarray(values, dtype=np.float64)
            row(out, ident, kind, values)
            row(out, ident, "std", [np.std(values, ddof=0)])


if __name__ == "__main__":
    write_lfilter()
    write_roots()
    write_stddev()

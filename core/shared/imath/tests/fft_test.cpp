// The FFT library reaches applications through the math library's link line: this program
// links only kavrelimath (and the test framework) and calls every function applications use.

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include <kiss_fft.h>
#include <kiss_fftr.h>

namespace {

constexpr int c_points = 64;
const double c_pi = std::acos(-1.0);

float Magnitude(const kiss_fft_cpx& c)
{
    return std::hypot(c.r, c.i);
}

int PeakBin(const std::vector<kiss_fft_cpx>& spectrum, size_t bins)
{
    size_t peak = 0;
    for (size_t k = 1; k < bins; ++k) {
        if (Magnitude(spectrum[k]) > Magnitude(spectrum[peak])) {
            peak = k;
        }
    }
    return static_cast<int>(peak);
}

TEST(Fft, RealTransformOfFiveCyclesPeaksAtBinFive)
{
    std::vector<kiss_fft_scalar> signal(c_points);
    for (int n = 0; n < c_points; ++n) {
        signal[n] = static_cast<kiss_fft_scalar>(std::sin(2 * c_pi * 5 * n / c_points));
    }
    kiss_fftr_cfg forward = kiss_fftr_alloc(c_points, 0, nullptr, nullptr);
    kiss_fftr_cfg inverse = kiss_fftr_alloc(c_points, 1, nullptr, nullptr);
    ASSERT_NE(forward, nullptr);
    ASSERT_NE(inverse, nullptr);
    std::vector<kiss_fft_cpx> spectrum(c_points / 2 + 1);
    kiss_fftr(forward, signal.data(), spectrum.data());
    EXPECT_EQ(PeakBin(spectrum, spectrum.size()), 5);
    EXPECT_NEAR(Magnitude(spectrum[5]), c_points / 2.0, 1e-3);

    // The inverse is unscaled: it returns the signal times the number of points.
    std::vector<kiss_fft_scalar> back(c_points);
    kiss_fftri(inverse, spectrum.data(), back.data());
    for (int n = 0; n < c_points; ++n) {
        EXPECT_NEAR(back[n] / c_points, signal[n], 1e-5) << n;
    }
    kiss_fftr_free(forward);
    kiss_fftr_free(inverse);
    kiss_fft_cleanup();
}

// The complex transform, also over every second sample of an interleaved buffer.
TEST(Fft, ComplexTransformWithAndWithoutStride)
{
    EXPECT_EQ(kiss_fft_next_fast_size(61), 64);
    std::vector<kiss_fft_cpx> in(2 * c_points);
    for (int n = 0; n < c_points; ++n) {
        const double phase = 2 * c_pi * 3 * n / c_points;
        in[2 * n] = {static_cast<float>(std::cos(phase)), static_cast<float>(std::sin(phase))};
        in[2 * n + 1] = {100.0f, -100.0f};  // interleaved noise that the stride skips
    }
    kiss_fft_cfg cfg = kiss_fft_alloc(c_points, 0, nullptr, nullptr);
    ASSERT_NE(cfg, nullptr);
    std::vector<kiss_fft_cpx> strided(c_points);
    kiss_fft_stride(cfg, in.data(), strided.data(), 2);
    EXPECT_EQ(PeakBin(strided, strided.size()), 3);
    EXPECT_NEAR(Magnitude(strided[3]), c_points, 1e-3);

    std::vector<kiss_fft_cpx> dense(c_points);
    for (int n = 0; n < c_points; ++n) {
        dense[n] = in[2 * n];
    }
    std::vector<kiss_fft_cpx> out(c_points);
    kiss_fft(cfg, dense.data(), out.data());
    for (int k = 0; k < c_points; ++k) {
        EXPECT_EQ(out[k].r, strided[k].r) << k;
        EXPECT_EQ(out[k].i, strided[k].i) << k;
    }
    kiss_fft_free(cfg);
    kiss_fft_cleanup();
}

} // namespace

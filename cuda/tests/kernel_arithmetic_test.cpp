// Checks the arithmetic of kep-cuda-worker's kernels on the host. The
// kernels' own per-thread steps run through the host grid, the way the
// worker launches them, and must match bit for bit the evaluation order the
// worker promises, written out here independently:
//   reduction: runs of 512 inputs; input t meets input t + 256 first (dot:
//     a[t] * b[t] rounded, then one fma for the second pair), then lanes fold
//     in halves, upper half added onto the lower; the partial sums are
//     reduced again the same way until one is left;
//   axpy: fma(alpha, x[i], y[i]);
//   matmul: one fma chain per element over p = 0 .. 16 * ceil(k / 16) - 1,
//     positions at or past k adding fma(0.0, 0.0, acc).
// Inputs are followed by NaN sentinels, so a read past the end shows up in
// the result; outputs are followed by sentinels that must stay untouched.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "host_grid.hpp"

namespace {

using kernel_steps::reduction_threads;
using kernel_steps::tile_size;

int passed = 0;
int failed = 0;

uint64_t bits(double x) {
    uint64_t b;
    std::memcpy(&b, &x, sizeof b);
    return b;
}

void check(const std::string& name, bool ok, const std::string& detail = "") {
    if (ok) {
        ++passed;
    } else {
        ++failed;
        std::printf("FAIL %s %s\n", name.c_str(), detail.c_str());
    }
}

void check_bits(const std::string& name, const std::vector<double>& got, const std::vector<double>& want) {
    std::string detail;
    bool ok = got.size() == want.size();
    for (size_t i = 0; ok && i < got.size(); ++i) {
        if (bits(got[i]) != bits(want[i])) {
            char text[96];
            std::snprintf(text, sizeof text, "element %zu: got %.17g, want %.17g", i, got[i], want[i]);
            detail = text;
            ok = false;
        }
    }
    check(name, ok, detail);
}

const double nan_sentinel = std::numeric_limits<double>::quiet_NaN();

// A copy of values followed by NaN sentinels.
std::vector<double> guarded(const std::vector<double>& values, size_t guard = 600) {
    std::vector<double> copy(values);
    copy.resize(values.size() + guard, nan_sentinel);
    return copy;
}

// Deterministic values over a wide range of magnitudes and both signs, with
// an occasional -0.0, so that changing the order of additions changes bits.
std::vector<double> sample(size_t count, uint64_t seed) {
    std::vector<double> values(count);
    uint64_t state = seed * 0x9E3779B97F4A7C15ULL + 1;
    for (double& value : values) {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        const double unit = static_cast<double>(state >> 11) / 9007199254740992.0;
        const int exponent = static_cast<int>((state >> 3) % 41) - 20;
        value = (state & 0x100) != 0 && (state & 0xff) == 0 ? -0.0 : std::ldexp(unit - 0.5, exponent);
    }
    return values;
}

// ---------------------------------------------------------------- reduction

std::vector<double> reference_pass(const std::vector<double>& a, const std::vector<double>* b) {
    const size_t run = 2 * reduction_threads;
    std::vector<double> partials;
    for (size_t start = 0; start < a.size(); start += run) {
        std::vector<double> lanes(reduction_threads);
        for (size_t t = 0; t < lanes.size(); ++t) {
            const size_t i = start + t;
            const size_t j = i + reduction_threads;
            double lane = i < a.size() ? (b ? a[i] * (*b)[i] : a[i]) : 0.0;
            if (j < a.size()) lane = b ? std::fma(a[j], (*b)[j], lane) : lane + a[j];
            lanes[t] = lane;
        }
        for (size_t half = lanes.size() / 2; half > 0; half /= 2)
            for (size_t t = 0; t < half; ++t) lanes[t] = lanes[t + half] + lanes[t];
        partials.push_back(lanes[0]);
    }
    return partials;
}

double reference_reduce(const std::vector<double>& a, const std::vector<double>* b) {
    std::vector<double> partials = reference_pass(a, b);
    while (partials.size() > 1) partials = reference_pass(partials, nullptr);
    return partials[0];
}

// The worker's passes on the host grid: a first pass of sum or dot blocks,
// then sum passes alternating between two partial buffers.
double grid_reduce(const std::vector<double>& a, const std::vector<double>* b) {
    const uint64_t n = a.size();
    const uint64_t run = 2 * reduction_threads;
    const std::vector<double> input = guarded(a);
    const std::vector<double> other_input = b ? guarded(*b) : std::vector<double>();
    uint64_t count = (n + run - 1) / run;
    std::vector<double> first = guarded(std::vector<double>(count));
    std::vector<double> second = guarded(std::vector<double>(count));
    const host_grid::Shape block{reduction_threads};
    if (b)
        host_grid::reduce_dot_kernel({unsigned(count)}, block, input.data(), other_input.data(), first.data(), n);
    else
        host_grid::reduce_sum_kernel({unsigned(count)}, block, input.data(), first.data(), n);
    std::vector<double>* written = &first;
    std::vector<double>* other = &second;
    while (count > 1) {
        const uint64_t next = (count + run - 1) / run;
        host_grid::reduce_sum_kernel({unsigned(next)}, block, written->data(), other->data(), count);
        std::swap(written, other);
        count = next;
    }
    return (*written)[0];
}

void test_reductions() {
    const size_t sizes[] = {1, 255, 256, 257, 511, 512, 513, 1025, 512 * 512, 512 * 512 + 1};
    for (const size_t n : sizes) {
        const std::vector<double> a = sample(n, n);
        const std::vector<double> b = sample(n, n + 7);
        const std::string size = std::to_string(n);
        check_bits("sum of " + size, {grid_reduce(a, nullptr)}, {reference_reduce(a, nullptr)});
        check_bits("dot of " + size, {grid_reduce(a, &b)}, {reference_reduce(a, &b)});
    }
    // The data must tell evaluation orders apart, or the comparisons above
    // would prove little.
    const std::vector<double> a = sample(512 * 512 + 1, 3);
    double in_order = 0.0;
    for (const double x : a) in_order += x;
    check("sample data depends on the order of additions", bits(in_order) != bits(reference_reduce(a, nullptr)));
}

// ---------------------------------------------------------- known answers

const double two53 = 9007199254740992.0;        // 2^53: adding 1 rounds back to it
const double tiny = std::ldexp(1.0, -30);       // (1 + tiny)^2 loses its 2^-60 term
const double lost = std::ldexp(1.0, -60);

std::vector<double> with(size_t n, std::vector<std::pair<size_t, double>> set) {
    std::vector<double> values(n, 0.0);
    for (const auto& [index, value] : set) values[index] = value;
    return values;
}

std::vector<double> grid_axpy(double alpha, const std::vector<double>& x, const std::vector<double>& y) {
    const uint64_t n = x.size();
    const std::vector<double> device_x = guarded(x);
    std::vector<double> device_y = guarded(y);
    const unsigned blocks = unsigned((n + kernel_steps::axpy_threads - 1) / kernel_steps::axpy_threads);
    host_grid::axpy_kernel({blocks}, {kernel_steps::axpy_threads}, alpha, device_x.data(), device_y.data(), n);
    check("axpy of " + std::to_string(n) + " leaves memory past y alone",
          std::all_of(device_y.begin() + n, device_y.end(), [](double v) { return std::isnan(v); }));
    device_y.resize(n);
    return device_y;
}

std::vector<double> grid_matmul(const std::vector<double>& left, const std::vector<double>& right, int m, int k,
                                int n) {
    const std::vector<double> device_left = guarded(left);
    const std::vector<double> device_right = guarded(right);
    const size_t count = size_t(m) * n;
    std::vector<double> out(count + 64, 12345.0);
    const host_grid::Shape grid{(unsigned(n) + tile_size - 1) / tile_size, (unsigned(m) + tile_size - 1) / tile_size};
    host_grid::matmul_kernel(grid, {tile_size, tile_size}, device_left.data(), device_right.data(), out.data(), m,
                             k, n);
    check("matmul " + std::to_string(m) + "x" + std::to_string(k) + "x" + std::to_string(n) +
              " leaves memory past out alone",
          std::all_of(out.begin() + count, out.end(), [](double v) { return v == 12345.0; }));
    out.resize(count);
    return out;
}

void test_known_answers() {
    struct Case {
        const char* name;
        std::vector<double> got;
        std::vector<double> want;
    };
    const std::vector<double> dot_left = with(257, {{0, 1 + tiny}, {256, 1 + tiny}});
    const std::vector<double> dot_right = with(257, {{0, 1 + tiny}, {256, -(1 + tiny)}});
    const std::vector<double> one{1.0};
    const Case cases[] = {
        {"sum of -0.0 is +0.0 (idle lanes add +0.0)", {grid_reduce({-0.0}, nullptr)}, {0.0}},
        {"sum pairs input t with input t + 256",
         {grid_reduce(with(258, {{0, two53}, {1, 1}, {257, 1}}), nullptr)}, {two53 + 2}},
        {"later pass folds partial 2 onto partial 0 first",
         {grid_reduce(with(1025, {{0, 1}, {512, two53}, {1024, 1}}), nullptr)}, {two53 + 2}},
        {"dot rounds the first product and fuses the second",
         {grid_reduce(dot_left, &dot_right)}, {-lost}},
        {"dot of -0.0 and 1 is +0.0", {grid_reduce({-0.0}, &one)}, {0.0}},
        {"axpy is one fma", grid_axpy(1 + tiny, {1 + tiny}, {-(1 + 2 * tiny)}), {lost}},
        {"axpy keeps -0.0", grid_axpy(1.0, {-0.0}, {-0.0}), {-0.0}},
        {"matmul of -0.0 is +0.0", grid_matmul({-0.0}, {1.0}, 1, 1, 1), {0.0}},
        {"matmul is one fma chain",
         grid_matmul({1 + tiny, 1 + tiny}, {1 + tiny, -(1 + tiny)}, 1, 2, 1), {-lost}},
    };
    for (const Case& c : cases) check_bits(c.name, c.got, c.want);
}

// ------------------------------------------------------------ axpy, matmul

void test_axpy() {
    const size_t sizes[] = {1, 255, 256, 257, 1000};
    for (const size_t n : sizes) {
        const std::vector<double> x = sample(n, 11 * n);
        const std::vector<double> y = sample(n, 13 * n);
        const double alpha = -1.7500000000000002;
        std::vector<double> want(n);
        for (size_t i = 0; i < n; ++i) want[i] = std::fma(alpha, x[i], y[i]);
        check_bits("axpy of " + std::to_string(n), grid_axpy(alpha, x, y), want);
    }
}

std::vector<double> reference_matmul(const std::vector<double>& left, const std::vector<double>& right, int m,
                                     int k, int n) {
    const int padded = int((k + tile_size - 1) / tile_size * tile_size);
    std::vector<double> out(size_t(m) * n);
    for (int r = 0; r < m; ++r) {
        for (int c = 0; c < n; ++c) {
            double acc = 0.0;
            for (int p = 0; p < padded; ++p)
                acc = std::fma(p < k ? left[size_t(r) * k + p] : 0.0, p < k ? right[size_t(p) * n + c] : 0.0, acc);
            out[size_t(r) * n + c] = acc;
        }
    }
    return out;
}

void test_matmul() {
    const int shapes[][3] = {{17, 17, 1}, {1, 16, 33}, {16, 16, 16}, {5, 3, 7}, {33, 20, 18}, {31, 47, 2}, {2, 1, 40}};
    for (const auto& [m, k, n] : shapes) {
        const std::vector<double> left = sample(size_t(m) * k, size_t(m) * 100 + k);
        const std::vector<double> right = sample(size_t(k) * n, size_t(n) * 100 + k);
        check_bits("matmul " + std::to_string(m) + "x" + std::to_string(k) + "x" + std::to_string(n),
                   grid_matmul(left, right, m, k, n), reference_matmul(left, right, m, k, n));
    }
}

}  // namespace

int main() {
    test_reductions();
    test_known_answers();
    test_axpy();
    test_matmul();
    std::printf("kernel arithmetic: %d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}

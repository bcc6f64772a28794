// Per-thread work of kep-cuda-worker's kernels.
//
// Each __global__ kernel in kep_cuda_worker.cu is a thin wrapper: it calls
// these steps with its built-in indices and puts the barriers between them.
// The host tests call the very same steps block by block, thread by thread,
// phase by phase, so the arithmetic they check is the arithmetic the device
// runs. Both sides are built with contraction off: every fma below is
// written out, and nothing else is fused.
#pragma once

#include <math.h>
#include <stdint.h>

#ifdef __CUDACC__
#define KEP_HOST_DEVICE __host__ __device__
#else
#define KEP_HOST_DEVICE
#endif

namespace kernel_steps {

// Threads of a reduction block; each block reduces twice as many inputs.
constexpr unsigned reduction_threads = 256;
constexpr unsigned axpy_threads = 256;
// Matrix tiles are tile_size x tile_size, one thread per element.
constexpr unsigned tile_size = 16;
// What probe_kernel writes, so the host can tell a kernel really ran.
constexpr uint64_t probe_constant = 0x91F498EC5844B56BULL;

// First index a reduction thread reads: inputs i and i + block_dim meet in
// the same thread, so one block covers 2 * block_dim consecutive inputs.
KEP_HOST_DEVICE inline uint64_t reduction_index(uint64_t block, uint64_t block_dim, uint64_t thread) {
    return 2 * (block_dim * block) + thread;
}

// Load phase of a sum block. Threads past the end contribute +0.0.
KEP_HOST_DEVICE inline double reduce_sum_load(const double* in, uint64_t n, uint64_t block,
                                              uint64_t block_dim, uint64_t thread) {
    const uint64_t i = reduction_index(block, block_dim, thread);
    double v = i < n ? in[i] : 0.0;
    if (i + block_dim < n) v = v + in[i + block_dim];
    return v;
}

// Load phase of a dot block: the first product is rounded on its own, the
// second is folded in with one fused multiply-add.
KEP_HOST_DEVICE inline double reduce_dot_load(const double* a, const double* b, uint64_t n,
                                              uint64_t block, uint64_t block_dim, uint64_t thread) {
    const uint64_t i = reduction_index(block, block_dim, thread);
    double v = i < n ? a[i] * b[i] : 0.0;
    if (i + block_dim < n) v = fma(a[i + block_dim], b[i + block_dim], v);
    return v;
}

// One level of a block's tree: threads below the stride add the upper half
// onto the lower half. The caller halves the stride from block_dim / 2 to 1
// with a barrier after every level.
KEP_HOST_DEVICE inline void reduce_tree_step(double* shared, unsigned thread, unsigned stride) {
    if (thread < stride) shared[thread] = shared[thread + stride] + shared[thread];
}

KEP_HOST_DEVICE inline void axpy_element(double alpha, const double* x, double* y, uint64_t n, uint64_t i) {
    if (i < n) y[i] = fma(alpha, x[i], y[i]);
}

// Number of k-tiles a matrix product walks; computed in 64 bits because
// k + 15 overflows an int for the largest dimensions.
KEP_HOST_DEVICE inline int64_t matmul_tile_count(int k) {
    return k < 1 ? 0 : (static_cast<int64_t>(k) + tile_size - 1) / tile_size;
}

// Load phase of tile t: each thread stages one element of each operand, or
// 0.0 where the tile hangs over the matrix, so every thread has work up to
// the barrier.
KEP_HOST_DEVICE inline void matmul_load_tiles(const double* left, const double* right,
                                              double left_tile[tile_size][tile_size],
                                              double right_tile[tile_size][tile_size],
                                              int m, int k, int n, int row, int col,
                                              unsigned tx, unsigned ty, int64_t t) {
    const int64_t left_column = tile_size * t + tx;
    const int64_t right_row = tile_size * t + ty;
    left_tile[ty][tx] = row < m && left_column < k
        ? left[static_cast<int64_t>(row) * k + left_column] : 0.0;
    right_tile[ty][tx] = col < n && right_row < k
        ? right[right_row * n + col] : 0.0;
}

// Multiply phase of one tile: a fused multiply-add chain in ascending order
// of the inner index, positions past k adding fma(0.0, 0.0, acc).
KEP_HOST_DEVICE inline double matmul_tile_products(const double left_tile[tile_size][tile_size],
                                                   const double right_tile[tile_size][tile_size],
                                                   unsigned tx, unsigned ty, double acc) {
    for (unsigned e = 0; e < tile_size; ++e) acc = fma(left_tile[ty][e], right_tile[e][tx], acc);
    return acc;
}

KEP_HOST_DEVICE inline void matmul_store(double* out, int m, int n, int row, int col, double acc) {
    if (row < m && col < n) out[static_cast<int64_t>(row) * n + col] = acc;
}

KEP_HOST_DEVICE inline void probe_store(unsigned long long* out, unsigned block, unsigned thread) {
    if (block == 0 && thread == 0) out[0] = probe_constant;
}

}  // namespace kernel_steps

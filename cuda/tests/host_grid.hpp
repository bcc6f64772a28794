// Runs kep-cuda-worker's kernels on the host with the kernels' own
// per-thread steps, block by block and phase by phase: every thread of a
// block finishes a phase before any thread starts the next, which is all the
// kernels' barriers promise on the device.
#pragma once

#include <stdint.h>

#include "../kep_cuda_kernels.cuh"

namespace host_grid {

using namespace kernel_steps;

struct Shape {
    unsigned x = 1;
    unsigned y = 1;
};

// Tree phase and store of one reduction block, after its load phase.
inline void finish_reduction_block(double* shared, unsigned threads, double* out, unsigned block) {
    for (unsigned stride = threads / 2; stride > 0; stride /= 2)
        for (unsigned t = 0; t < threads; ++t) reduce_tree_step(shared, t, stride);
    out[block] = shared[0];
}

inline void reduce_sum_kernel(Shape grid, Shape block, const double* in, double* out, uint64_t n) {
    double shared[reduction_threads];
    for (unsigned b = 0; b < grid.x; ++b) {
        for (unsigned t = 0; t < block.x; ++t) shared[t] = reduce_sum_load(in, n, b, block.x, t);
        finish_reduction_block(shared, block.x, out, b);
    }
}

inline void reduce_dot_kernel(Shape grid, Shape block, const double* a, const double* b, double* out,
                              uint64_t n) {
    double shared[reduction_threads];
    for (unsigned g = 0; g < grid.x; ++g) {
        for (unsigned t = 0; t < block.x; ++t) shared[t] = reduce_dot_load(a, b, n, g, block.x, t);
        finish_reduction_block(shared, block.x, out, g);
    }
}

inline void axpy_kernel(Shape grid, Shape block, double alpha, const double* x, double* y, uint64_t n) {
    for (unsigned b = 0; b < grid.x; ++b)
        for (unsigned t = 0; t < block.x; ++t)
            axpy_element(alpha, x, y, n, static_cast<uint64_t>(b) * block.x + t);
}

inline void matmul_kernel(Shape grid, Shape block, const double* left, const double* right, double* out,
                          int m, int k, int n) {
    double left_tile[tile_size][tile_size];
    double right_tile[tile_size][tile_size];
    double acc[tile_size][tile_size];
    for (unsigned by = 0; by < grid.y; ++by) {
        for (unsigned bx = 0; bx < grid.x; ++bx) {
            const int first_row = static_cast<int>(by * tile_size);
            const int first_col = static_cast<int>(bx * tile_size);
            for (unsigned ty = 0; ty < block.y; ++ty)
                for (unsigned tx = 0; tx < block.x; ++tx) acc[ty][tx] = 0.0;
            for (int64_t t = 0; t < matmul_tile_count(k); ++t) {
                for (unsigned ty = 0; ty < block.y; ++ty)
                    for (unsigned tx = 0; tx < block.x; ++tx)
                        matmul_load_tiles(left, right, left_tile, right_tile, m, k, n, first_row + ty,
                                          first_col + tx, tx, ty, t);
                for (unsigned ty = 0; ty < block.y; ++ty)
                    for (unsigned tx = 0; tx < block.x; ++tx)
                        acc[ty][tx] = matmul_tile_products(left_tile, right_tile, tx, ty, acc[ty][tx]);
            }
            for (unsigned ty = 0; ty < block.y; ++ty)
                for (unsigned tx = 0; tx < block.x; ++tx)
                    matmul_store(out, m, n, first_row + ty, first_col + tx, acc[ty][tx]);
        }
    }
}

inline void probe_kernel(Shape grid, Shape block, unsigned long long* out) {
    for (unsigned b = 0; b < grid.x; ++b)
        for (unsigned t = 0; t < block.x; ++t) probe_store(out, b, t);
}

}  // namespace host_grid

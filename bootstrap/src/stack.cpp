#include "stack.hpp"

#include <cstdint>

namespace kep {

static uintptr_t g_stack_floor = 0;
static constexpr size_t kMargin = size_t(1) << 20;

static uintptr_t current_address() { return reinterpret_cast<uintptr_t>(__builtin_frame_address(0)); }

void set_stack_extent(size_t size) { g_stack_floor = current_address() - size + kMargin; }

bool stack_nearly_exhausted() { return current_address() < g_stack_floor; }

}  // namespace kep

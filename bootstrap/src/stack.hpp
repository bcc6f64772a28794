// The machine stack kep0 runs on: recursion in a KEP program or in the
// parser stops with an error before the stack runs out.
#pragma once
#include <cstddef>

namespace kep {

// Records the stack of the calling thread: size bytes below the caller.
void set_stack_extent(size_t size);
// True when less than a safety margin of the stack is left.
bool stack_nearly_exhausted();

}  // namespace kep

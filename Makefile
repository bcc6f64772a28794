# Build everything that exists: `make`.  Run every test: `make check`.
CXX      ?= g++
CXXFLAGS ?= -std=c++20 -O2 -g -Wall -Wextra -ffp-contract=off -fno-fast-math
KEP0_SRC := $(wildcard bootstrap/src/*.cpp)
KEP0_HDR := $(wildcard bootstrap/src/*.hpp)

# The compiler builds itself: stage 1 is kep0 running the compiler's source
# on that source; stage 2, the native compiler, is stage 1's output compiling
# the same source; stage 3 is stage 2's. All three images must be the same
# bytes: kep0's run of the compiler and the compiled compiler agree, and the
# compiler reproduces itself.
KEPC_MAIN    := compiler/pure/kepc_direct.kep
KEPC_SOURCES := $(wildcard compiler/pure/*.kep)
KEPC         := compiler/pure/kepc-direct
LIBRARY      := compiler/pure/dynamic_stdlib.kep
# On a difference: the first differing offset and the label it falls in.
COMPARE_STAGES = cmp -s $(1) $(2) || { bootstrap/kep0 tests/selfhost/compare_stages.kep $(KEPC_MAIN) $(1) $(2); exit 1; }

.PHONY: all check cuda clean
.DELETE_ON_ERROR:

all: bootstrap/kep0 $(KEPC) build/kepc-stage3 compiler/pure/kep-configure cuda

bootstrap/kep0: $(KEP0_SRC) $(KEP0_HDR)
	$(CXX) $(CXXFLAGS) -o $@ $(KEP0_SRC) -lpthread

build/kepc-stage1: bootstrap/kep0 $(KEPC_SOURCES)
	@mkdir -p build
	bootstrap/kep0 $(KEPC_MAIN) $(KEPC_MAIN) $@

$(KEPC): build/kepc-stage1
	build/kepc-stage1 $(KEPC_MAIN) $@
	@$(call COMPARE_STAGES,build/kepc-stage1,$@)

build/kepc-stage3: $(KEPC)
	$(KEPC) $(KEPC_MAIN) $@
	@$(call COMPARE_STAGES,$(KEPC),$@)

# Tools, compiled by the native compiler (each image carries the library).
compiler/pure/kep-configure: $(KEPC) $(LIBRARY) stdlib/configure.kep stdlib/json.kep
	$(KEPC) stdlib/configure.kep $@

# The GPU worker needs nvcc; without it the build says so and goes on.
cuda:
	@if [ -f cuda/Makefile ]; then $(MAKE) --no-print-directory -C cuda; fi

check: all
	bash tests/check.sh

clean:
	rm -f bootstrap/kep0 $(KEPC) compiler/pure/kep-configure
	rm -rf build
	@if [ -f cuda/Makefile ]; then $(MAKE) --no-print-directory -C cuda clean; fi

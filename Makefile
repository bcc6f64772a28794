# Build everything that exists: `make`.  Run every test: `make check`.
CXX      ?= g++
CXXFLAGS ?= -std=c++20 -O2 -g -Wall -Wextra -ffp-contract=off -fno-fast-math
KEP0_SRC := $(wildcard bootstrap/src/*.cpp)
KEP0_HDR := $(wildcard bootstrap/src/*.hpp)

.PHONY: all check cuda clean

all: bootstrap/kep0 cuda

bootstrap/kep0: $(KEP0_SRC) $(KEP0_HDR)
	$(CXX) $(CXXFLAGS) -o $@ $(KEP0_SRC) -lpthread

# The GPU worker needs nvcc; without it the build says so and goes on.
cuda:
	@if [ -f cuda/Makefile ]; then $(MAKE) --no-print-directory -C cuda; fi

check: all
	bash tests/check.sh

clean:
	rm -f bootstrap/kep0
	@if [ -f cuda/Makefile ]; then $(MAKE) --no-print-directory -C cuda clean; fi

// A stand-in for the CUDA runtime library, loaded in place of the real one
// by the shared-runtime test build of kep-cuda-worker so that its device
// paths can be tested end to end without a GPU. It exports what the worker
// imports, keeps device memory in host memory, runs the kernels through the
// host grid, and is steered by the environment:
//   STANDIN_DEVICES  number of devices (default 1)
//   STANDIN_NAME     every device's name (default "Stand-in GPU")
//   STANDIN_FAIL     NAME or NAME#N: the Nth call (default the first) of the
//                    runtime function NAME fails with "stand-in failure"; a
//                    kernel's name makes that kernel's Nth launch do nothing
//   STANDIN_LOG      file that receives one line per allocation, copy,
//                    launch, free and device selection
#include <cuda_runtime_api.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "host_grid.hpp"

namespace {

const cudaError_t standin_failure = cudaErrorUnknown;
cudaError_t last_error = cudaSuccess;

int device_count() {
    const char* text = std::getenv("STANDIN_DEVICES");
    return text ? std::atoi(text) : 1;
}

void log_event(const char* format, ...) {
    const char* path = std::getenv("STANDIN_LOG");
    if (!path) return;
    if (FILE* file = std::fopen(path, "a")) {
        va_list arguments;
        va_start(arguments, format);
        std::vfprintf(file, format, arguments);
        va_end(arguments);
        std::fputc('\n', file);
        std::fclose(file);
    }
}

// True when this call of NAME is the one STANDIN_FAIL picks.
bool fails(const std::string& name) {
    static std::map<std::string, int> calls;
    const int call = ++calls[name];
    const char* target = std::getenv("STANDIN_FAIL");
    if (!target) return false;
    const std::string chosen = target;
    const size_t hash = chosen.find('#');
    const int wanted = hash == std::string::npos ? 1 : std::atoi(chosen.c_str() + hash + 1);
    return chosen.substr(0, hash) == name && call == wanted;
}

// Device allocations, named in log lines by their order: buf0, buf1, ...
// They are never given back, so that no two allocations share a name.
std::vector<std::pair<char*, size_t>> allocations;

std::string describe(const void* pointer) {
    for (size_t i = 0; i < allocations.size(); ++i) {
        const char* base = allocations[i].first;
        if (pointer >= base && pointer < base + allocations[i].second) {
            const size_t offset = static_cast<const char*>(pointer) - base;
            return "buf" + std::to_string(i) + (offset ? "+" + std::to_string(offset) : "");
        }
    }
    return "host";
}

// Kernel names by host stub, from registration.
std::map<const void*, std::string> kernel_names;

template <typename T>
T argument(void** args, int index) {
    return *static_cast<T*>(args[index]);
}

// Runs one launch through the host grid; NAME is the kernel's short name.
void run_kernel(const std::string& name, host_grid::Shape grid, host_grid::Shape block, void** args) {
    using P = double*;
    if (name == "probe_kernel") {
        log_event("launch probe_kernel %ux%u %ux%u %s", grid.x, grid.y, block.x, block.y,
            describe(argument<void*>(args, 0)).c_str());
        if (!fails(name)) host_grid::probe_kernel(grid, block, argument<unsigned long long*>(args, 0));
    } else if (name == "reduce_sum_kernel") {
        log_event("launch reduce_sum_kernel %ux%u %ux%u %s %s %llu", grid.x, grid.y, block.x, block.y,
            describe(argument<P>(args, 0)).c_str(), describe(argument<P>(args, 1)).c_str(),
            (unsigned long long)argument<uint64_t>(args, 2));
        if (!fails(name))
            host_grid::reduce_sum_kernel(grid, block, argument<P>(args, 0), argument<P>(args, 1),
                                         argument<uint64_t>(args, 2));
    } else if (name == "reduce_dot_kernel") {
        log_event("launch reduce_dot_kernel %ux%u %ux%u %s %s %s %llu", grid.x, grid.y, block.x, block.y,
            describe(argument<P>(args, 0)).c_str(), describe(argument<P>(args, 1)).c_str(),
            describe(argument<P>(args, 2)).c_str(), (unsigned long long)argument<uint64_t>(args, 3));
        if (!fails(name))
            host_grid::reduce_dot_kernel(grid, block, argument<P>(args, 0), argument<P>(args, 1),
                                         argument<P>(args, 2), argument<uint64_t>(args, 3));
    } else if (name == "axpy_kernel") {
        log_event("launch axpy_kernel %ux%u %ux%u %.17g %s %s %llu", grid.x, grid.y, block.x, block.y,
            argument<double>(args, 0), describe(argument<P>(args, 1)).c_str(),
            describe(argument<P>(args, 2)).c_str(), (unsigned long long)argument<uint64_t>(args, 3));
        if (!fails(name))
            host_grid::axpy_kernel(grid, block, argument<double>(args, 0), argument<P>(args, 1),
                                   argument<P>(args, 2), argument<uint64_t>(args, 3));
    } else if (name == "matmul_kernel") {
        log_event("launch matmul_kernel %ux%u %ux%u %s %s %s %d %d %d", grid.x, grid.y, block.x, block.y,
            describe(argument<P>(args, 0)).c_str(), describe(argument<P>(args, 1)).c_str(),
            describe(argument<P>(args, 2)).c_str(), argument<int>(args, 3), argument<int>(args, 4),
            argument<int>(args, 5));
        if (!fails(name))
            host_grid::matmul_kernel(grid, block, argument<P>(args, 0), argument<P>(args, 1),
                                     argument<P>(args, 2), argument<int>(args, 3), argument<int>(args, 4),
                                     argument<int>(args, 5));
    }
}

// The short name inside a mangled device name ("..._117reduce_sum_kernelE...").
std::string short_name(const std::string& mangled) {
    for (const char* name : {"probe_kernel", "reduce_sum_kernel", "reduce_dot_kernel", "axpy_kernel", "matmul_kernel"})
        if (mangled.find(name) != std::string::npos) return name;
    return mangled;
}

dim3 pending_grid, pending_block;

}  // namespace

extern "C" {

void** __cudaRegisterFatBinary(void*) {
    static void* handle = nullptr;
    return &handle;
}
void __cudaRegisterFatBinaryEnd(void**) {}
void __cudaUnregisterFatBinary(void**) {}
void __cudaRegisterFunction(void**, const char* host_function, char*, const char* device_name, int, uint3*, uint3*,
                            dim3*, dim3*, int*) {
    kernel_names[host_function] = short_name(device_name);
}

unsigned __cudaPushCallConfiguration(dim3 grid, dim3 block, size_t, struct CUstream_st*) {
    pending_grid = grid;
    pending_block = block;
    return 0;
}
cudaError_t __cudaPopCallConfiguration(dim3* grid, dim3* block, size_t* shared_memory, void* stream) {
    *grid = pending_grid;
    *block = pending_block;
    *shared_memory = 0;
    *static_cast<cudaStream_t*>(stream) = nullptr;
    return cudaSuccess;
}
cudaError_t __cudaGetKernel(cudaKernel_t* kernel, const void* host_function) {
    *kernel = reinterpret_cast<cudaKernel_t>(const_cast<void*>(host_function));
    return cudaSuccess;
}

// Refuses what the hardware refuses: more than 65535 blocks in y or 1024
// threads in a block.
cudaError_t __cudaLaunchKernel(cudaKernel_t kernel, dim3 grid, dim3 block, void** args, size_t, cudaStream_t) {
    if (fails("__cudaLaunchKernel")) return last_error = standin_failure;
    if (grid.y > 65535 || grid.z > 65535 || block.x * block.y * block.z > 1024)
        return last_error = cudaErrorInvalidConfiguration;
    run_kernel(kernel_names[kernel], {grid.x, grid.y}, {block.x, block.y}, args);
    return cudaSuccess;
}

cudaError_t cudaGetLastError() {
    const cudaError_t error = last_error;
    last_error = cudaSuccess;
    return error;
}

const char* cudaGetErrorString(cudaError_t error) {
    return error == cudaErrorInvalidConfiguration ? "invalid configuration argument" : "stand-in failure";
}

cudaError_t cudaGetDeviceCount(int* count) {
    if (fails("cudaGetDeviceCount")) return standin_failure;
    *count = device_count();
    return cudaSuccess;
}

cudaError_t cudaSetDevice(int device) {
    log_event("cudaSetDevice %d", device);
    return fails("cudaSetDevice") || device >= device_count() ? standin_failure : cudaSuccess;
}

cudaError_t cudaGetDeviceProperties(cudaDeviceProp* properties, int device) {
    if (fails("cudaGetDeviceProperties")) return standin_failure;
    const char* name = std::getenv("STANDIN_NAME");
    std::snprintf(properties->name, sizeof properties->name, "%s", name ? name : "Stand-in GPU");
    properties->major = 8;
    properties->minor = 6 + device;
    properties->totalGlobalMem = 25769803776ULL;
    properties->multiProcessorCount = 84;
    return cudaSuccess;
}

cudaError_t cudaRuntimeGetVersion(int* version) {
    if (fails("cudaRuntimeGetVersion")) return standin_failure;
    *version = 13000;
    return cudaSuccess;
}

cudaError_t cudaDriverGetVersion(int* version) {
    if (fails("cudaDriverGetVersion")) return standin_failure;
    *version = 13010;
    return cudaSuccess;
}

cudaError_t cudaMalloc(void** pointer, size_t bytes) {
    if (fails("cudaMalloc")) return standin_failure;
    *pointer = std::calloc(bytes, 1);
    allocations.emplace_back(static_cast<char*>(*pointer), bytes);
    log_event("cudaMalloc %s %zu", describe(*pointer).c_str(), bytes);
    return cudaSuccess;
}

cudaError_t cudaFree(void* pointer) {
    if (pointer) log_event("cudaFree %s", describe(pointer).c_str());
    return cudaSuccess;
}

cudaError_t cudaMemcpy(void* destination, const void* source, size_t bytes, cudaMemcpyKind) {
    log_event("cudaMemcpy %s -> %s %zu", describe(source).c_str(), describe(destination).c_str(), bytes);
    if (fails("cudaMemcpy")) return standin_failure;
    std::memcpy(destination, source, bytes);
    return cudaSuccess;
}

}  // extern "C"

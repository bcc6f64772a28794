// kep-cuda-worker: computes sums, dot products, axpy and matrix products on an
// NVIDIA GPU for a client process, one request per run.
//
// JSON mode takes a request on standard input or as the only argument and
// answers with one line of JSON, failures included (exit status 0).
// Binary mode ("--binary OP NUMBERS...") takes packed little-endian doubles
// on standard input and writes packed doubles; failures go to standard error
// with exit status 2. Nothing reaches standard output before a reply is
// complete, and a reply that cannot be written never ends with status 0.

#include <cuda_runtime.h>

#include <algorithm>
#include <cerrno>
#include <cfloat>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "kep_cuda_kernels.cuh"

namespace {

using namespace kernel_steps;

class WorkerError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// ---------------------------------------------------------------- kernels

__global__ void probe_kernel(unsigned long long* out) {
    probe_store(out, blockIdx.x, threadIdx.x);
}

// Tree phase and store of one reduction block, after its load phase.
__device__ void finish_reduction_block(double* shared, double* out) {
    __syncthreads();
    for (unsigned stride = blockDim.x / 2; stride > 0; stride /= 2) {
        reduce_tree_step(shared, threadIdx.x, stride);
        __syncthreads();
    }
    if (threadIdx.x == 0) out[blockIdx.x] = shared[0];
}

__global__ void reduce_sum_kernel(const double* in, double* out, uint64_t n) {
    __shared__ double shared[reduction_threads];
    shared[threadIdx.x] = reduce_sum_load(in, n, blockIdx.x, blockDim.x, threadIdx.x);
    finish_reduction_block(shared, out);
}

__global__ void reduce_dot_kernel(const double* a, const double* b, double* out, uint64_t n) {
    __shared__ double shared[reduction_threads];
    shared[threadIdx.x] = reduce_dot_load(a, b, n, blockIdx.x, blockDim.x, threadIdx.x);
    finish_reduction_block(shared, out);
}

__global__ void axpy_kernel(double alpha, const double* x, double* y, uint64_t n) {
    const uint64_t i = static_cast<uint64_t>(blockIdx.x) * blockDim.x + threadIdx.x;
    axpy_element(alpha, x, y, n, i);
}

__global__ void matmul_kernel(const double* left, const double* right, double* out, int m, int k, int n) {
    __shared__ double left_tile[tile_size][tile_size];
    __shared__ double right_tile[tile_size][tile_size];
    const int row = static_cast<int>(blockIdx.y * tile_size + threadIdx.y);
    const int col = static_cast<int>(blockIdx.x * tile_size + threadIdx.x);
    double acc = 0.0;
    const int64_t tiles = matmul_tile_count(k);
    for (int64_t t = 0; t < tiles; ++t) {
        matmul_load_tiles(left, right, left_tile, right_tile, m, k, n, row, col, threadIdx.x, threadIdx.y, t);
        __syncthreads();
        acc = matmul_tile_products(left_tile, right_tile, threadIdx.x, threadIdx.y, acc);
        __syncthreads();
    }
    matmul_store(out, m, n, row, col, acc);
}

// ------------------------------------------------------- shared routines

void check_cuda(cudaError_t status, const char* label) {
    if (status != cudaSuccess) throw WorkerError(std::string(label) + ": " + cudaGetErrorString(status));
}

bool is_finite(double x) {
    return std::fabs(x) <= DBL_MAX;
}

uint64_t multiply_checked(uint64_t a, uint64_t b, const std::string& what) {
    if (a == 0) return 0;
    if (b > UINT64_MAX / a) throw WorkerError(what + " size overflow");
    return a * b;
}

std::string read_stdin() {
    std::ostringstream buffer;
    buffer << std::cin.rdbuf();
    return buffer.str();
}

// Owns one device allocation and frees it on every path, also while an
// error unwinds. A buffer of 0 bytes allocates nothing.
class DeviceBuffer {
public:
    explicit DeviceBuffer(uint64_t bytes) {
        if (bytes > 0) check_cuda(cudaMalloc(&pointer_, bytes), "cudaMalloc");
    }
    ~DeviceBuffer() { cudaFree(pointer_); }
    DeviceBuffer(const DeviceBuffer&) = delete;
    DeviceBuffer& operator=(const DeviceBuffer&) = delete;

    void* get() const { return pointer_; }
    double* doubles() const { return static_cast<double*>(pointer_); }

private:
    void* pointer_ = nullptr;
};

void copy_to_device(const DeviceBuffer& buffer, const std::vector<double>& values, const char* label) {
    check_cuda(cudaMemcpy(buffer.get(), values.data(), values.size() * sizeof(double), cudaMemcpyHostToDevice),
               label);
}

std::vector<double> copy_from_device(const DeviceBuffer& buffer, uint64_t count, const char* label) {
    std::vector<double> values(count, 0.0);
    check_cuda(cudaMemcpy(values.data(), buffer.get(), count * sizeof(double), cudaMemcpyDeviceToHost), label);
    return values;
}

// ------------------------------------------------------ device selection

int device_from_environment(int count) {
    const char* text = std::getenv("KEP_CUDA_DEVICE");
    if (text == nullptr || *text == '\0') return 0;
    char* end = nullptr;
    const long index = std::strtol(text, &end, 10);
    if (*end != '\0' || index < 0 || index >= count)
        throw WorkerError("KEP_CUDA_DEVICE does not select an available device");
    return static_cast<int>(index);
}

int select_device() {
    int count = 0;
    check_cuda(cudaGetDeviceCount(&count), "cudaGetDeviceCount");
    if (count <= 0) throw WorkerError("no CUDA device is available");
    const int index = device_from_environment(count);
    check_cuda(cudaSetDevice(index), "cudaSetDevice");
    return index;
}

// ------------------------------------------------------- GPU operations

// Block counts of the one-dimensional launches. They fit a grid's x limit
// (2^31 - 1) for any array that fits in host memory.
unsigned grid_blocks(uint64_t blocks) {
    return static_cast<unsigned>(blocks);
}

// Sum of a, or the dot product of a and b when b is given (same length).
// Every pass cuts the partial sums by 512; two partial buffers alternate.
double reduce_on_device(const std::vector<double>& a, const std::vector<double>* b) {
    if (a.empty()) return 0.0;
    select_device();
    const uint64_t n = a.size();
    const uint64_t block_inputs = 2 * reduction_threads;
    DeviceBuffer left(n * sizeof(double));
    copy_to_device(left, a, "reduction cudaMemcpy left host-to-device");
    DeviceBuffer right(b != nullptr ? n * sizeof(double) : 0);
    if (b != nullptr) copy_to_device(right, *b, "dot cudaMemcpy right host-to-device");

    uint64_t count = (n + block_inputs - 1) / block_inputs;
    DeviceBuffer first(count * sizeof(double));
    DeviceBuffer second(count * sizeof(double));
    if (b != nullptr)
        reduce_dot_kernel<<<grid_blocks(count), reduction_threads>>>(left.doubles(), right.doubles(), first.doubles(), n);
    else
        reduce_sum_kernel<<<grid_blocks(count), reduction_threads>>>(left.doubles(), first.doubles(), n);
    check_cuda(cudaGetLastError(), "reduction kernel launch");

    const DeviceBuffer* written = &first;
    const DeviceBuffer* other = &second;
    while (count > 1) {
        const uint64_t next = (count + block_inputs - 1) / block_inputs;
        reduce_sum_kernel<<<grid_blocks(next), reduction_threads>>>(written->doubles(), other->doubles(), count);
        check_cuda(cudaGetLastError(), "recursive reduction kernel launch");
        std::swap(written, other);
        count = next;
    }
    return copy_from_device(*written, 1, "reduction cudaMemcpy device-to-host")[0];
}

std::vector<double> run_axpy(const std::vector<double>& x, const std::vector<double>& y, double alpha) {
    if (x.size() != y.size()) throw WorkerError("cuda.axpy arrays have different lengths");
    if (x.empty()) return {};
    select_device();
    const uint64_t n = x.size();
    DeviceBuffer device_x(n * sizeof(double));
    DeviceBuffer device_y(n * sizeof(double));
    copy_to_device(device_x, x, "axpy cudaMemcpy x host-to-device");
    copy_to_device(device_y, y, "axpy cudaMemcpy y host-to-device");
    const uint64_t blocks = (n + axpy_threads - 1) / axpy_threads;
    axpy_kernel<<<grid_blocks(blocks), axpy_threads>>>(alpha, device_x.doubles(), device_y.doubles(), n);
    check_cuda(cudaGetLastError(), "axpy kernel launch");
    return copy_from_device(device_y, n, "axpy cudaMemcpy device-to-host");
}

// The largest product the worker returns: 2 GiB of doubles. Without a bound a
// request of a few bytes (k = 0, or k = 1 with long thin operands) could ask
// for tens of gigabytes of output and get the worker killed for memory.
constexpr uint64_t max_matmul_output = uint64_t(1) << 28;

// A grid holds at most 65535 blocks in y, so taller products run as bands of
// rows, each launch computing its own rows of out from the same rows of left.
constexpr int64_t matmul_band_rows = 65535 * tile_size;

void launch_matmul(const double* left, const double* right, double* out, int m, int k, int n) {
    const unsigned columns = static_cast<unsigned>((static_cast<uint64_t>(n) + tile_size - 1) / tile_size);
    for (int64_t first_row = 0; first_row < m; first_row += matmul_band_rows) {
        const int rows = static_cast<int>(std::min<int64_t>(m - first_row, matmul_band_rows));
        const dim3 grid(columns, (rows + tile_size - 1) / tile_size);
        matmul_kernel<<<grid, dim3(tile_size, tile_size)>>>(left + first_row * k, right, out + first_row * n,
                                                             rows, k, n);
        check_cuda(cudaGetLastError(), "matmul kernel launch");
    }
}

std::vector<double> run_matmul(const std::vector<double>& left, const std::vector<double>& right,
                               int m, int k, int n) {
    const uint64_t left_count = multiply_checked(m, k, "left matrix");
    const uint64_t right_count = multiply_checked(k, n, "right matrix");
    const uint64_t output_count = multiply_checked(m, n, "output matrix");
    if (left.size() != left_count || right.size() != right_count)
        throw WorkerError("cuda.matmul array lengths do not match dimensions");
    if (output_count > max_matmul_output) throw WorkerError("cuda.matmul output matrix is too large");
    if (output_count == 0) return {};
    if (k == 0) return std::vector<double>(output_count, 0.0);

    select_device();
    DeviceBuffer device_left(left_count * sizeof(double));
    DeviceBuffer device_right(right_count * sizeof(double));
    DeviceBuffer device_out(output_count * sizeof(double));
    copy_to_device(device_left, left, "matmul cudaMemcpy left host-to-device");
    copy_to_device(device_right, right, "matmul cudaMemcpy right host-to-device");
    launch_matmul(device_left.doubles(), device_right.doubles(), device_out.doubles(), m, k, n);
    return copy_from_device(device_out, output_count, "matmul cudaMemcpy device-to-host");
}

// ------------------------------------------------------- request reader

bool is_blank(char c) {
    return c == '\t' || c == '\n' || c == '\r' || c == ' ';
}

size_t skip_blanks(const std::string& text, size_t position) {
    while (position < text.size() && is_blank(text[position])) ++position;
    return position;
}

// One value of the request. A number keeps its value and whether it was a
// finite double; the error for one that was not comes when it is read.
struct JsonValue {
    enum Kind { Null, Boolean, Number, String, Array, Object } kind = Null;
    double number = 0.0;
    bool finite = false;
    std::string text;
    std::vector<JsonValue> items;
    std::vector<std::pair<std::string, JsonValue>> members;
};

// Arrays and objects nest at most this deep, so that no request exhausts the
// stack of the recursive reader.
constexpr int max_json_nesting = 1000;

// Reads the request as one JSON object: objects, arrays, Strings with
// escapes, numbers and the literals true, false and null, with nothing but
// blanks around it. Only the object's own keys are read afterwards, so a key
// inside a nested object or a String value is never taken for one of them.
class RequestReader {
public:
    explicit RequestReader(const std::string& request) : request_(request) {}

    JsonValue read_request() {
        position_ = skip_blanks(request_, 0);
        // Text that holds no object has none of the keys.
        if (position_ == request_.size() || request_[position_] != '{')
            throw WorkerError("request is missing key operation");
        JsonValue object = read_value();
        if (skip_blanks(request_, position_) != request_.size())
            throw WorkerError("unexpected text after the request object");
        return object;
    }

private:
    bool at_end() const { return position_ == request_.size(); }
    char current() const { return request_[position_]; }
    void skip() { position_ = skip_blanks(request_, position_); }

    JsonValue read_value() {
        JsonValue value;
        switch (current()) {
        case '{': read_object(value); break;
        case '[': read_array(value); break;
        case '"':
            value.kind = JsonValue::String;
            value.text = read_string();
            break;
        default:
            if (!read_literal(value)) read_number(value);
        }
        return value;
    }

    bool read_literal(JsonValue& value) {
        for (const char* word : {"true", "false", "null"}) {
            const size_t length = std::strlen(word);
            if (request_.compare(position_, length, word) == 0) {
                value.kind = word[0] == 'n' ? JsonValue::Null : JsonValue::Boolean;
                position_ += length;
                return true;
            }
        }
        return false;
    }

    // strtod's rules; every finite double is accepted, subnormals included,
    // while an overflow or a value that underflows to zero is not finite.
    void read_number(JsonValue& value) {
        const char* begin = request_.c_str() + position_;
        char* end = nullptr;
        errno = 0;
        value.kind = JsonValue::Number;
        value.number = std::strtod(begin, &end);
        if (end == begin) throw WorkerError("invalid finite numeric value in request");
        value.finite = is_finite(value.number) && !(errno == ERANGE && value.number == 0.0);
        position_ += static_cast<size_t>(end - begin);
    }

    std::string read_string() {
        std::string value;
        for (++position_; position_ < request_.size(); ++position_) {
            const char c = current();
            if (c == '"') {
                ++position_;
                return value;
            }
            if (c != '\\') {
                value += c;
                continue;
            }
            if (++position_ == request_.size()) throw WorkerError("unfinished String escape");
            switch (current()) {
            case '"': value += '"'; break;
            case '/': value += '/'; break;
            case '\\': value += '\\'; break;
            case 'n': value += '\n'; break;
            case 'r': value += '\r'; break;
            case 't': value += '\t'; break;
            default: throw WorkerError("unsupported String escape in request");
            }
        }
        throw WorkerError("unterminated String in request");
    }

    void enter() {
        if (++nesting_ > max_json_nesting) throw WorkerError("request nests too deeply");
        ++position_;
        skip();
    }

    // A comma must be followed by another item: [1,] is refused as [,1] is.
    void read_array(JsonValue& value) {
        value.kind = JsonValue::Array;
        enter();
        if (at_end()) throw WorkerError("unterminated Array in request");
        if (current() == ']') {
            ++position_;
            --nesting_;
            return;
        }
        for (;;) {
            value.items.push_back(read_value());
            skip();
            if (at_end() || (current() != ',' && current() != ']'))
                throw WorkerError("expected comma or closing bracket in Array");
            if (current() == ']') break;
            ++position_;
            skip();
            if (at_end()) throw WorkerError("unterminated Array in request");
        }
        ++position_;
        --nesting_;
    }

    void read_object(JsonValue& value) {
        value.kind = JsonValue::Object;
        enter();
        if (!at_end() && current() == '}') {
            ++position_;
            --nesting_;
            return;
        }
        for (;;) {
            if (at_end()) throw WorkerError("unterminated Object in request");
            if (current() != '"') throw WorkerError("expected String key in Object");
            std::string key = read_string();
            skip();
            if (at_end() || current() != ':') throw WorkerError("request key " + key + " has no value");
            ++position_;
            skip();
            if (at_end()) throw WorkerError("request key " + key + " has no value");
            value.members.emplace_back(std::move(key), read_value());
            skip();
            if (at_end()) throw WorkerError("unterminated Object in request");
            if (current() == '}') break;
            if (current() != ',') throw WorkerError("expected comma or closing brace in Object");
            ++position_;
            skip();
        }
        ++position_;
        --nesting_;
    }

    const std::string& request_;
    size_t position_ = 0;
    int nesting_ = 0;
};

// The value of a top-level key (the first, when a key repeats).
const JsonValue& find_key_value(const JsonValue& request, const std::string& key) {
    for (const auto& member : request.members)
        if (member.first == key) return member.second;
    throw WorkerError("request is missing key " + key);
}

std::string read_string_value(const JsonValue& request, const std::string& key) {
    const JsonValue& value = find_key_value(request, key);
    if (value.kind != JsonValue::String) throw WorkerError("request key " + key + " must be a String");
    return value.text;
}

double finite_number(const JsonValue& value) {
    if (value.kind != JsonValue::Number || !value.finite) throw WorkerError("invalid finite numeric value in request");
    return value.number;
}

double read_number_value(const JsonValue& request, const std::string& key) {
    return finite_number(find_key_value(request, key));
}

int32_t read_dimension_value(const JsonValue& request, const std::string& key) {
    const double value = read_number_value(request, key);
    if (!(value >= 0.0 && value <= 2147483647.0 && value == std::trunc(value)))
        throw WorkerError("request key " + key + " must be a non-negative Int");
    return static_cast<int32_t>(value);
}

std::vector<double> read_array_value(const JsonValue& request, const std::string& key) {
    const JsonValue& value = find_key_value(request, key);
    if (value.kind != JsonValue::Array) throw WorkerError("request key " + key + " must be an Array");
    std::vector<double> values;
    values.reserve(value.items.size());
    for (const JsonValue& item : value.items) values.push_back(finite_number(item));
    return values;
}

// --------------------------------------------------------- reply writers

const char success_prefix[] = "{\"abi\":1,\"ok\":true,\"value\":";
const char error_prefix[] = "{\"abi\":1,\"ok\":false,\"error\":\"";

// 17 significant digits in %g form: enough to carry every double exactly.
std::string number_text(double x) {
    char text[32];
    std::snprintf(text, sizeof text, "%.17g", x);
    return text;
}

std::string escape_json(const std::string& text) {
    std::string escaped;
    for (const char c : text) {
        switch (c) {
        case '\t': escaped += "\\t"; break;
        case '\n': escaped += "\\n"; break;
        case '\r': escaped += "\\r"; break;
        case '"': escaped += "\\\""; break;
        case '\\': escaped += "\\\\"; break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                char code[8];
                std::snprintf(code, sizeof code, "\\u%04x", static_cast<unsigned>(static_cast<unsigned char>(c)));
                escaped += code;
            } else {
                escaped += c;
            }
        }
    }
    return escaped;
}

void write_scalar_reply(double x) {
    if (!is_finite(x)) throw WorkerError("CUDA result is not a finite Float");
    std::cout << success_prefix << number_text(x) << "}\n";
}

void write_array_reply(const std::vector<double>& values) {
    if (!std::all_of(values.begin(), values.end(), is_finite))
        throw WorkerError("CUDA result contains a non-finite Float");
    std::cout << success_prefix << '[';
    for (size_t i = 0; i < values.size(); ++i) {
        if (i > 0) std::cout << ',';
        std::cout << number_text(values[i]);
    }
    std::cout << "]}\n";
}

void write_error_reply(const std::string& message) {
    std::cout << error_prefix << escape_json(message) << "\"}\n";
}

// ------------------------------------------------- probe and device list

const char backend_name[] = "nvidia-cuda-runtime";

cudaDeviceProp read_properties(int index) {
    cudaDeviceProp properties;
    std::memset(&properties, 0, sizeof properties);
    check_cuda(cudaGetDeviceProperties(&properties, index), "cudaGetDeviceProperties");
    return properties;
}

std::string device_name(const cudaDeviceProp& properties) {
    return escape_json(std::string(properties.name, strnlen(properties.name, sizeof properties.name)));
}

std::string compute_capability(const cudaDeviceProp& properties) {
    return std::to_string(properties.major) + "." + std::to_string(properties.minor);
}

struct Versions {
    int runtime = 0;
    int driver = 0;
};

Versions read_versions() {
    Versions versions;
    check_cuda(cudaRuntimeGetVersion(&versions.runtime), "cudaRuntimeGetVersion");
    check_cuda(cudaDriverGetVersion(&versions.driver), "cudaDriverGetVersion");
    return versions;
}

void run_probe() {
    DeviceBuffer buffer(sizeof(uint64_t));
    probe_kernel<<<1, 1>>>(static_cast<unsigned long long*>(buffer.get()));
    check_cuda(cudaGetLastError(), "probe kernel launch");
    uint64_t word = 0;
    check_cuda(cudaMemcpy(&word, buffer.get(), sizeof word, cudaMemcpyDeviceToHost),
               "probe cudaMemcpy device-to-host");
    if (word != probe_constant) throw WorkerError("CUDA probe kernel returned an invalid device value");
}

void write_probe_reply() {
    const int index = select_device();
    run_probe();
    const cudaDeviceProp properties = read_properties(index);
    const Versions versions = read_versions();
    std::cout << success_prefix << "{\"backend\":\"" << backend_name << "\",\"verified\":true,\"device\":" << index
              << ",\"name\":\"" << device_name(properties) << "\",\"compute_capability\":\""
              << compute_capability(properties) << "\",\"runtime_version\":" << versions.runtime
              << ",\"driver_version\":" << versions.driver << "}}\n";
}

// Lists every device without selecting one; all properties are gathered
// first so a failure for any device leaves only the error reply.
void write_devices_reply() {
    int count = 0;
    check_cuda(cudaGetDeviceCount(&count), "cudaGetDeviceCount");
    const Versions versions = read_versions();
    std::vector<cudaDeviceProp> devices;
    for (int index = 0; index < count; ++index) devices.push_back(read_properties(index));

    std::cout << success_prefix << '[';
    for (size_t index = 0; index < devices.size(); ++index) {
        const cudaDeviceProp& properties = devices[index];
        if (index > 0) std::cout << ',';
        std::cout << "{\"index\":" << index << ",\"name\":\"" << device_name(properties) << "\",\"backend\":\""
                  << backend_name << "\",\"compute_capability\":\"" << compute_capability(properties)
                  << "\",\"memory_bytes\":" << static_cast<uint64_t>(properties.totalGlobalMem)
                  << ",\"multiprocessors\":" << properties.multiProcessorCount
                  << ",\"runtime_version\":" << versions.runtime << ",\"driver_version\":" << versions.driver
                  << '}';
    }
    std::cout << "]}\n";
}

// ------------------------------------------------------------- JSON mode

// Every key is read before any device work, so a malformed request never
// touches the device.
void handle_json_request(const std::string& text) {
    const JsonValue request = RequestReader(text).read_request();
    const std::string operation = read_string_value(request, "operation");
    if (operation == "cuda.sum") {
        const std::vector<double> values = read_array_value(request, "values");
        write_scalar_reply(reduce_on_device(values, nullptr));
    } else if (operation == "cuda.dot") {
        const std::vector<double> left = read_array_value(request, "left");
        const std::vector<double> right = read_array_value(request, "right");
        if (left.size() != right.size()) throw WorkerError("cuda.dot arrays have different lengths");
        write_scalar_reply(reduce_on_device(left, &right));
    } else if (operation == "cuda.axpy") {
        const double alpha = read_number_value(request, "alpha");
        const std::vector<double> x = read_array_value(request, "x");
        const std::vector<double> y = read_array_value(request, "y");
        write_array_reply(run_axpy(x, y, alpha));
    } else if (operation == "cuda.matmul") {
        const int32_t m = read_dimension_value(request, "m");
        const int32_t k = read_dimension_value(request, "k");
        const int32_t n = read_dimension_value(request, "n");
        const std::vector<double> left = read_array_value(request, "left");
        const std::vector<double> right = read_array_value(request, "right");
        write_array_reply(run_matmul(left, right, m, k, n));
    } else if (operation == "cuda.probe") {
        write_probe_reply();
    } else if (operation == "cuda.devices") {
        write_devices_reply();
    } else {
        throw WorkerError("unsupported CUDA operation " + operation);
    }
}

std::string json_request_text(int argc, char** argv) {
    if (argc == 2) return argv[1];
    if (argc != 1) throw WorkerError("worker expects JSON on stdin or one argv request");
    std::string request = read_stdin();
    if (request.empty()) throw WorkerError("worker received no JSON request on stdin");
    return request;
}

// ----------------------------------------------------------- binary mode

// Decimal digits only: strtoull alone would take blanks and a sign, and
// read -18446744073709551615 as 1.
uint64_t parse_binary_count(const std::string& text, const std::string& what) {
    if (text.empty()) throw WorkerError("missing binary " + what);
    if (text.find_first_not_of("0123456789") != std::string::npos) throw WorkerError("invalid binary " + what);
    char* end = nullptr;
    errno = 0;
    const unsigned long long value = std::strtoull(text.c_str(), &end, 10);
    if (*end != '\0' || errno == ERANGE) throw WorkerError("invalid binary " + what);
    return value;
}

double parse_binary_float(const std::string& text, const std::string& what) {
    if (text.empty()) throw WorkerError("missing binary " + what);
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(text.c_str(), &end);
    // A subnormal is a finite double; an overflow or an underflow to zero is not.
    if (*end != '\0' || !is_finite(value) || (errno == ERANGE && value == 0.0))
        throw WorkerError("invalid binary " + what);
    return value;
}

std::vector<double> slice_payload(const std::string& payload, uint64_t offset, uint64_t count) {
    if (count > UINT64_MAX / sizeof(double)) throw WorkerError("binary FloatArray size overflow");
    const uint64_t bytes = count * sizeof(double);
    if (offset > payload.size() || payload.size() - offset < bytes)
        throw WorkerError("binary CUDA payload is shorter than declared");
    std::vector<double> values(count);
    if (count > 0) std::memcpy(values.data(), payload.data() + offset, bytes);
    return values;
}

std::vector<double> binary_sum(int argc, char** argv, const std::string& payload) {
    if (argc != 4) throw WorkerError("binary sum expects count");
    const uint64_t count = parse_binary_count(argv[3], "sum count");
    const uint64_t bytes = multiply_checked(count, sizeof(double), "binary sum");
    if (bytes != payload.size()) throw WorkerError("binary sum payload length differs");
    return {reduce_on_device(slice_payload(payload, 0, count), nullptr)};
}

std::vector<double> binary_dot(int argc, char** argv, const std::string& payload) {
    if (argc != 4) throw WorkerError("binary dot expects count");
    const uint64_t count = parse_binary_count(argv[3], "dot count");
    const uint64_t bytes = multiply_checked(count, sizeof(double), "dot");
    const std::vector<double> left = slice_payload(payload, 0, count);
    const std::vector<double> right = slice_payload(payload, bytes, count);
    if (multiply_checked(bytes, 2, "binary dot payload") != payload.size())
        throw WorkerError("binary dot payload length differs");
    return {reduce_on_device(left, &right)};
}

std::vector<double> binary_axpy(int argc, char** argv, const std::string& payload) {
    if (argc != 5) throw WorkerError("binary axpy expects alpha and count");
    const double alpha = parse_binary_float(argv[3], "axpy alpha");
    const uint64_t count = parse_binary_count(argv[4], "axpy count");
    const uint64_t bytes = multiply_checked(count, sizeof(double), "axpy");
    const std::vector<double> x = slice_payload(payload, 0, count);
    const std::vector<double> y = slice_payload(payload, bytes, count);
    if (multiply_checked(bytes, 2, "binary axpy payload") != payload.size())
        throw WorkerError("binary axpy payload length differs");
    return run_axpy(x, y, alpha);
}

std::vector<double> binary_matmul(int argc, char** argv, const std::string& payload) {
    if (argc != 6) throw WorkerError("binary matmul expects m, k, and n");
    const uint64_t m = parse_binary_count(argv[3], "matmul rows");
    const uint64_t k = parse_binary_count(argv[4], "matmul inner");
    const uint64_t n = parse_binary_count(argv[5], "matmul columns");
    if ((m | k | n) > 2147483647) throw WorkerError("binary matmul dimensions exceed Int32");
    const uint64_t left_count = multiply_checked(m, k, "left matrix");
    const uint64_t right_count = multiply_checked(k, n, "right matrix");
    const uint64_t left_bytes = multiply_checked(left_count, sizeof(double), "left matrix");
    const uint64_t right_bytes = multiply_checked(right_count, sizeof(double), "right matrix");
    if (left_bytes > UINT64_MAX - right_bytes || left_bytes + right_bytes != payload.size())
        throw WorkerError("binary matmul payload length differs");
    const std::vector<double> left = slice_payload(payload, 0, left_count);
    const std::vector<double> right = slice_payload(payload, left_bytes, right_count);
    return run_matmul(left, right, static_cast<int>(m), static_cast<int>(k), static_cast<int>(n));
}

void write_binary_result(const std::vector<double>& values) {
    std::cout.write(reinterpret_cast<const char*>(values.data()),
                    static_cast<std::streamsize>(values.size() * sizeof(double)));
    if (!std::cout.flush()) throw WorkerError("cannot write result to standard output");
}

void handle_binary_request(int argc, char** argv) {
    if (argc < 4) throw WorkerError("binary worker request has too few arguments");
    const std::string operation = argv[2];
    const std::string payload = read_stdin();
    if (operation == "sum") return write_binary_result(binary_sum(argc, argv, payload));
    if (operation == "dot") return write_binary_result(binary_dot(argc, argv, payload));
    if (operation == "axpy") return write_binary_result(binary_axpy(argc, argv, payload));
    if (operation == "matmul") return write_binary_result(binary_matmul(argc, argv, payload));
    throw WorkerError("unsupported binary CUDA operation " + operation);
}

}  // namespace

int main(int argc, char** argv) {
    // A reader that goes away is a failed write, reported as every other.
    std::signal(SIGPIPE, SIG_IGN);
    std::ios::sync_with_stdio(false);
    if (argc >= 2 && std::strcmp(argv[1], "--binary") == 0) {
        try {
            handle_binary_request(argc, argv);
            return 0;
        } catch (const std::exception& error) {
            std::cerr << error.what() << '\n';
            return 2;
        }
    }
    try {
        handle_json_request(json_request_text(argc, argv));
    } catch (const std::exception& error) {
        write_error_reply(error.what());
    }
    // The client learns everything from the reply; one it cannot receive
    // (standard output closed or full) must not pass for success.
    if (!std::cout.flush()) {
        std::cerr << "cannot write reply to standard output\n";
        return 1;
    }
    return 0;
}

// libzu: the stand-in host's arrays and scratch memory.
#include "block_store.hpp"
#include "call_scope.hpp"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <unordered_set>
#include <utility>

namespace zuhost {

namespace {

std::atomic<std::uint64_t> gLiveArrays{0};
std::atomic<std::uint64_t> gLiveBlocks{0};
std::atomic<std::uint64_t> gHandedOver{0};

// Refuse single allocations beyond this many bytes outright: a request that
// large is a wrapped or hostile size, not an image.
constexpr std::uint64_t kMaxAllocationBytes = std::uint64_t{1} << 46;

// The host's full record: what the module sees, and whose the data is.
struct HostRecord : zuArray_tag {
    bool ownsData = true;
};

HostRecord* hostRecord(zuArray* array) noexcept { return static_cast<HostRecord*>(array); }

struct CallRecord {
    std::unordered_set<const zuArray*> arrays;
    std::unordered_set<void*> blocks;
    CallRecord* outer = nullptr;
    const OutputPlacement* placement = nullptr;  // taken by the first matching array
};

bool poisonFromEnvironment() noexcept {
    const char* value = std::getenv("ZUHOST_POISON_NEW_ARRAYS");
    return value != nullptr && value[0] != '\0' && std::strcmp(value, "0") != 0;
}

std::atomic<bool> gPoison{poisonFromEnvironment()};

thread_local CallRecord* tCurrentCall = nullptr;

[[noreturn]] void raise(const char* identifier, const char* message) {
    throw HostError(identifier, message);
}

bool multiplyChecked(std::uint64_t a, std::uint64_t b, std::uint64_t& out) {
    if (a != 0 && b > std::numeric_limits<std::uint64_t>::max() / a) return false;
    out = a * b;
    return true;
}

// Array data and scratch blocks alike: large blocks come from, and go back
// to, the block cache (block_store.hpp).
void* allocateBytes(std::uint64_t bytes) {
    if (bytes > kMaxAllocationBytes) {
        raise(kOutOfMemoryId, "Requested allocation is larger than the host can provide.");
    }
    void* block = blocks::acquire(bytes == 0 ? 1 : bytes);
    if (block == nullptr) raise(kOutOfMemoryId, "Out of memory.");
    return block;
}

void releaseArrayStorage(zuArray* array) noexcept {
    HostRecord* record = hostRecord(array);
    if (record->ownsData) {
        blocks::release(record->realData);
        blocks::release(record->imagData);
    }
    delete[] record->dims;
    delete record;
    gLiveArrays.fetch_sub(1, std::memory_order_relaxed);
}

}  // namespace

void setPoisonNewArrays(bool on) noexcept { gPoison.store(on, std::memory_order_relaxed); }
bool poisonNewArrays() noexcept { return gPoison.load(std::memory_order_relaxed); }

HostError::HostError(std::string identifier, std::string message)
    : std::runtime_error(identifier.empty() ? message : identifier + ": " + message),
      identifier_(std::move(identifier)),
      message_(std::move(message)) {}

void ArrayDeleter::operator()(zuArray* array) const noexcept { destroyArray(array); }

std::size_t elementSize(zuClassID classID) noexcept {
    switch (classID) {
        case zuLogicalClass:
        case zuInt8Class:
        case zuUint8Class: return 1;
        case 4:  // not listed by the module; the host stores it in 16-bit units
        case zuInt16Class:
        case zuUint16Class: return 2;
        case zuSingleClass:
        case zuInt32Class:
        case zuUint32Class: return 4;
        case zuDoubleClass:
        case zuInt64Class:
        case zuUint64Class: return 8;
        default: return 0;
    }
}

bool isNumericClass(zuClassID classID) noexcept {
    return classID == zuLogicalClass || (classID >= zuDoubleClass && classID <= zuUint64Class);
}

const char* className(zuClassID classID) noexcept {
    switch (classID) {
        case zuLogicalClass: return "logical";
        case zuDoubleClass: return "double";
        case zuSingleClass: return "single";
        case zuInt8Class: return "int8";
        case zuUint8Class: return "uint8";
        case zuInt16Class: return "int16";
        case zuUint16Class: return "uint16";
        case zuInt32Class: return "int32";
        case zuUint32Class: return "uint32";
        case zuInt64Class: return "int64";
        case zuUint64Class: return "uint64";
        default: return "unlisted";
    }
}

ArrayPtr createArray(zuClassID classID, std::span<const std::uint64_t> dimsIn,
                     const ArrayOptions& options) {
    // The host keeps at least two extents and drops trailing 1s beyond the second.
    std::vector<std::uint64_t> dims(dimsIn.begin(), dimsIn.end());
    if (dims.empty()) dims = {0, 0};
    if (dims.size() == 1) dims.push_back(1);
    while (dims.size() > 2 && dims.back() == 1) dims.pop_back();

    std::uint64_t count = 1;
    for (std::uint64_t d : dims) {
        if (!multiplyChecked(count, d, count)) {
            raise(kOutOfMemoryId, "Array dimensions overflow the host's size type.");
        }
    }
    // Identifiers without numeric storage (the unlisted ones) still get a byte per
    // element so that a record always has valid data pointers.
    const std::size_t size = std::max<std::size_t>(elementSize(classID), 1);
    std::uint64_t bytes = 0;
    if (!multiplyChecked(count, size, bytes)) {
        raise(kOutOfMemoryId, "Array size overflows the host's size type.");
    }

    // A call's output placement takes the first array that fits it exactly.
    ArrayOptions effective = options;
    if (tCurrentCall != nullptr && tCurrentCall->placement != nullptr &&
        effective.borrowedReal == nullptr) {
        const OutputPlacement& place = *tCurrentCall->placement;
        if (place.bytes == bytes && (place.imag != nullptr) == (options.complexity == zuCOMPLEX)) {
            effective.borrowedReal = place.real;
            effective.borrowedImag = place.imag;
            tCurrentCall->placement = nullptr;
        }
    }
    const bool borrowed = effective.borrowedReal != nullptr;
    if (borrowed && options.complexity == zuCOMPLEX && effective.borrowedImag == nullptr)
        raise(kBadArrayId, "A complex array with borrowed data needs an imaginary block.");

    auto record = std::make_unique<HostRecord>();
    record->ownsData = !borrowed;
    record->storedClassID = options.storedAlias > zuLastPlainClass ? options.storedAlias : classID;
    record->resolvedClassID = classID;
    record->numDims = dims.size();
    record->dims = new std::uint64_t[dims.size()];
    std::copy(dims.begin(), dims.end(), record->dims);
    record->sparse = options.sparse;
    switch (options.numeric) {
        case ArrayOptions::Numeric::Default: record->numericData = isNumericClass(classID); break;
        case ArrayOptions::Numeric::Set: record->numericData = true; break;
        case ArrayOptions::Numeric::Clear: record->numericData = false; break;
    }
    record->realData = nullptr;
    record->imagData = nullptr;
    if (borrowed) {
        record->realData = effective.borrowedReal;
        if (options.complexity == zuCOMPLEX) record->imagData = effective.borrowedImag;
    } else try {
        const bool poison = gPoison.load(std::memory_order_relaxed);
        record->realData = allocateBytes(bytes);
        if (poison) std::memset(record->realData, kPoisonByte, static_cast<std::size_t>(bytes));
        if (options.complexity == zuCOMPLEX) {
            record->imagData = allocateBytes(bytes);
            if (poison) std::memset(record->imagData, kPoisonByte, static_cast<std::size_t>(bytes));
        }
    } catch (...) {
        blocks::release(record->realData);
        delete[] record->dims;
        throw;
    }

    zuArray* array = record.release();
    gLiveArrays.fetch_add(1, std::memory_order_relaxed);
    if (tCurrentCall != nullptr) {
        try {
            tCurrentCall->arrays.insert(array);
        } catch (...) {
            releaseArrayStorage(array);
            raise(kOutOfMemoryId, "Out of memory.");
        }
    }
    return ArrayPtr(array);
}

ArrayPtr createArray(zuClassID classID, std::initializer_list<std::uint64_t> dims,
                     const ArrayOptions& options) {
    return createArray(classID, std::span<const std::uint64_t>(dims.begin(), dims.size()), options);
}

ArrayPtr createScalar(double value) {
    ArrayPtr array = createArray(zuDoubleClass, {1, 1});
    std::memcpy(array->realData, &value, sizeof value);
    return array;
}

void destroyArray(zuArray* array) noexcept {
    if (array == nullptr) return;
    for (CallRecord* call = tCurrentCall; call != nullptr; call = call->outer) {
        call->arrays.erase(array);
    }
    releaseArrayStorage(array);
}

std::uint64_t numberOfElements(const zuArray& array) noexcept {
    std::uint64_t count = 1;
    for (std::uint64_t d = 0; d < array.numDims; ++d) count *= array.dims[d];
    return count;
}

std::vector<std::uint64_t> extents(const zuArray& array) {
    return {array.dims, array.dims + array.numDims};
}

ArrayPtr borrowArray(zuClassID classID, std::span<const std::uint64_t> dims,
                     const void* realData, const void* imagData) {
    if (realData == nullptr) raise(kBadArrayId, "Borrowed array without data.");
    ArrayOptions options;
    options.complexity = imagData != nullptr ? zuCOMPLEX : zuREAL;
    // The module reads through these pointers and never writes an input.
    options.borrowedReal = const_cast<void*>(realData);
    options.borrowedImag = const_cast<void*>(imagData);
    return createArray(classID, dims, options);
}

HandedData handOverData(ArrayPtr array) {
    if (!array) raise(kBadArrayId, "Null array.");
    if (!hostRecord(array.get())->ownsData) raise(kBadArrayId, "A borrowed array's data is not the host's to hand over.");
    HandedData data;
    data.classID = array->classID();
    data.dims = extents(*array);
    data.realData = std::exchange(array->realData, nullptr);
    data.imagData = std::exchange(array->imagData, nullptr);
    gHandedOver.fetch_add(data.imagData != nullptr ? 2 : 1, std::memory_order_relaxed);
    return data;  // the record goes with `array`, its data pointers null
}

void releaseData(void* block) noexcept {
    if (block == nullptr) return;
    // From here the block may serve another array: NumPy, its owner, is done with it.
    blocks::release(block);
    gHandedOver.fetch_sub(1, std::memory_order_relaxed);
}

BlockCacheState blockCacheState() noexcept {
    const blocks::CacheState state = blocks::cacheState();
    return {state.blocks, state.bytes};
}
std::uint64_t blockCacheBound() noexcept { return blocks::cacheBound(); }
void setBlockCacheBound(std::uint64_t bytes) noexcept { blocks::setCacheBound(bytes); }
void emptyBlockCache() noexcept { blocks::emptyCache(); }

Counts liveCounts() noexcept {
    return {gLiveArrays.load(std::memory_order_relaxed), gLiveBlocks.load(std::memory_order_relaxed),
            gHandedOver.load(std::memory_order_relaxed)};
}

namespace detail {

CallScope::CallScope(const OutputPlacement* placement) {
    auto* record = new CallRecord;
    record->outer = tCurrentCall;
    record->placement = placement != nullptr && placement->real != nullptr ? placement : nullptr;
    tCurrentCall = record;
}

CallScope::~CallScope() {
    CallRecord* record = tCurrentCall;
    tCurrentCall = record->outer;
    for (void* block : record->blocks) {
        blocks::release(block);
        gLiveBlocks.fetch_sub(1, std::memory_order_relaxed);
    }
    for (const zuArray* array : record->arrays) releaseArrayStorage(const_cast<zuArray*>(array));
    delete record;
}

bool CallScope::keep(const zuArray* array) noexcept {
    return tCurrentCall != nullptr && tCurrentCall->arrays.erase(array) == 1;
}

}  // namespace detail
}  // namespace zuhost

using namespace zuhost;

zuClassID zuArray_tag::_get_class_id_non_trivial() const { return resolvedClassID; }

extern "C" {

double zuGetScalar(const zuArray* array) {
    if (array == nullptr) raise(kBadArrayId, "Null array.");
    if (numberOfElements(*array) == 0) return 0.0;
    const void* data = array->realData;
    switch (array->classID()) {
        case zuDoubleClass: return *static_cast<const double*>(data);
        case zuSingleClass: return *static_cast<const float*>(data);
        case zuLogicalClass:
        case zuUint8Class: return *static_cast<const std::uint8_t*>(data);
        case zuInt8Class: return *static_cast<const std::int8_t*>(data);
        case 4:
        case zuUint16Class: return *static_cast<const std::uint16_t*>(data);
        case zuInt16Class: return *static_cast<const std::int16_t*>(data);
        case zuUint32Class: return *static_cast<const std::uint32_t*>(data);
        case zuInt32Class: return *static_cast<const std::int32_t*>(data);
        case zuUint64Class: return static_cast<double>(*static_cast<const std::uint64_t*>(data));
        case zuInt64Class: return static_cast<double>(*static_cast<const std::int64_t*>(data));
        default: return 0.0;
    }
}

std::uint64_t zuGetN(const zuArray* array) {
    if (array == nullptr) raise(kBadArrayId, "Null array.");
    // The number of columns: every extent after the first, multiplied.
    std::uint64_t n = 1;
    for (std::uint64_t d = 1; d < array->numDims; ++d) n *= array->dims[d];
    return n;
}

std::uint64_t zuGetNumberOfElements(const zuArray* array) {
    if (array == nullptr) raise(kBadArrayId, "Null array.");
    return numberOfElements(*array);
}

zuArray* zuCreateUninitNumericArray(std::uint64_t ndim, const std::uint64_t* dims,
                                    zuClassID classID, zuComplexity complexity) {
    // Any class identifier is accepted, as createArray accepts it: a module
    // creates its output in the image's class before it judges that class, so
    // refusing here would replace the module's own class error with the host's.
    if (dims == nullptr && ndim != 0) raise(kBadArrayId, "Null extents.");
    ArrayOptions options;
    options.complexity = complexity == zuCOMPLEX ? zuCOMPLEX : zuREAL;
    return createArray(classID, std::span<const std::uint64_t>(dims, ndim), options).release();
}

void* zuMalloc(std::size_t bytes) {
    void* block = allocateBytes(bytes);
    if (tCurrentCall != nullptr) {
        try {
            tCurrentCall->blocks.insert(block);
        } catch (...) {
            blocks::release(block);
            raise(kOutOfMemoryId, "Out of memory.");
        }
    }
    gLiveBlocks.fetch_add(1, std::memory_order_relaxed);
    return block;
}

void zuFree(void* block) {
    if (block == nullptr) return;
    for (CallRecord* call = tCurrentCall; call != nullptr; call = call->outer) {
        call->blocks.erase(block);
    }
    blocks::release(block);
    gLiveBlocks.fetch_sub(1, std::memory_order_relaxed);
}

}  // extern "C"

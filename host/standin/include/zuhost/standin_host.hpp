// The stand-in host: the host-side view of libzu and libzup.
//
// Tests, the command-line tool and the fuzzers use this to make arrays, load a
// module file as the host would, call it, and check that every call leaves the
// host's bookkeeping where it found it.
#ifndef ZUHOST_STANDIN_HOST_HPP
#define ZUHOST_STANDIN_HOST_HPP

#include <zu.h>

#include <cstdint>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace zuhost {

#if defined(_WIN32)
#  if defined(ZU_BUILDING_LIBZU) || defined(ZU_BUILDING_LIBZUP)
#    define ZUHOST_API __declspec(dllexport)
#  else
#    define ZUHOST_API __declspec(dllimport)
#  endif
#else
#  define ZUHOST_API __attribute__((visibility("default")))
#endif

// The one error type of the host boundary. zupErrMsgIdAndTxt throws it; it
// unwinds through the module to the call site in Module::call, which turns it
// into a CallOutcome. Code that runs calls for a caller (the tool's resize
// pipeline, the Python package) raises it again for a failed outcome; an
// empty identifier marks a result the caller could not use.
class ZUHOST_API HostError : public std::runtime_error {
public:
    HostError(std::string identifier, std::string message);
    const std::string& identifier() const noexcept { return identifier_; }
    const std::string& message() const noexcept { return message_; }

private:
    std::string identifier_;
    std::string message_;
};

// Identifiers of the host's own errors.
inline constexpr const char* kOutOfMemoryId = "Zu:host:outOfMemory";
inline constexpr const char* kBadArrayId = "Zu:host:badArray";

// With poisoning on, every byte of a freshly created array's data holds this
// value until written.
inline constexpr std::uint8_t kPoisonByte = 0xA5;

// Whether new arrays are filled with kPoisonByte. Off by default: ordinary
// runs get uninitialised memory, as the real host gives, and pay nothing for
// it. Tests turn it on to catch elements a module leaves unwritten, either
// through this call or by setting ZUHOST_POISON_NEW_ARRAYS=1 in the
// environment of the process before the host library loads.
ZUHOST_API void setPoisonNewArrays(bool on) noexcept;
ZUHOST_API bool poisonNewArrays() noexcept;

struct ArrayOptions {
    zuComplexity complexity = zuREAL;
    bool sparse = false;
    // Numeric-data flag. Defaults to set for logical and the numeric classes;
    // tests may force it on for classes a module does not list.
    enum class Numeric { Default, Set, Clear } numeric = Numeric::Default;
    // When non-zero, the record stores this identifier (above 16) and the host
    // resolves it to the array's class, as it does for its derived classes.
    zuClassID storedAlias = 0;
    // When set, the array uses this memory for its real (and imaginary) data
    // instead of allocating: the caller keeps it alive for the array's life
    // and frees it; the host never writes, poisons or frees it. Each block
    // must hold the whole array.
    void* borrowedReal = nullptr;
    void* borrowedImag = nullptr;
};

struct ZUHOST_API ArrayDeleter {
    void operator()(zuArray* array) const noexcept;
};
using ArrayPtr = std::unique_ptr<zuArray, ArrayDeleter>;

// Element size in bytes of a class, 0 for classes without numeric storage.
ZUHOST_API std::size_t elementSize(zuClassID classID) noexcept;
ZUHOST_API bool isNumericClass(zuClassID classID) noexcept;
// The name of a listed class; "unlisted" for every other identifier.
ZUHOST_API const char* className(zuClassID classID) noexcept;

// Creates an array with uninitialised data (poisoned when asked for). Extents follow the
// host's rule: at least two, trailing 1s beyond the second dropped. Throws
// HostError when the size overflows or memory runs out.
ZUHOST_API ArrayPtr createArray(zuClassID classID, std::span<const std::uint64_t> dims,
                                const ArrayOptions& options = {});
ZUHOST_API ArrayPtr createArray(zuClassID classID, std::initializer_list<std::uint64_t> dims,
                                const ArrayOptions& options = {});
// A 1-by-1 double.
ZUHOST_API ArrayPtr createScalar(double value);

// Releases an array made by the host or handed back by a module.
ZUHOST_API void destroyArray(zuArray* array) noexcept;

// An array over data the caller owns, for inputs that are already in the
// host's order: nothing is copied, and the host never writes or frees the
// data. The caller keeps it alive and unchanged while the array exists.
// Extents follow createArray's rule; `imagData` is null for a real array.
// Throws HostError when the element count or byte size overflows.
ZUHOST_API ArrayPtr borrowArray(zuClassID classID, std::span<const std::uint64_t> dims,
                                const void* realData, const void* imagData = nullptr);

// The data of a host-made array, taken out of it without a copy. The record
// is gone; each non-null block belongs to the caller until it passes the
// block to releaseData.
struct HandedData {
    zuClassID classID = 0;
    std::vector<std::uint64_t> dims;
    void* realData = nullptr;
    void* imagData = nullptr;
};
// Throws HostError for a borrowed array, whose data is not the host's to hand out.
ZUHOST_API HandedData handOverData(ArrayPtr array);
ZUHOST_API void releaseData(void* block) noexcept;

ZUHOST_API std::uint64_t numberOfElements(const zuArray& array) noexcept;
ZUHOST_API std::vector<std::uint64_t> extents(const zuArray& array);

// Live counts, over all threads.
struct Counts {
    std::uint64_t arrays = 0;
    std::uint64_t blocks = 0;
    std::uint64_t handedOver = 0;  // data blocks taken by handOverData, not yet released
    bool operator==(const Counts&) const = default;
};
ZUHOST_API Counts liveCounts() noexcept;

// Memory of large blocks (arrays' data and scratch blocks of 128 KiB and
// more). They are mapped from the operating system, not given huge-page
// advice, and when released they wait in a cache of recently freed blocks
// for the next request of (nearly) the same size, so that calls repeated on
// arrays of equal sizes find their memory already faulted in. A block is
// released only by its owner: the array that owns its data, zuFree or the
// end of the call for scratch blocks, releaseData for data handed over; a
// borrowed array's or handed-over block is never reused while it lives.
//
// The cache holds at most blockCacheBound() bytes: the smaller of 1 GiB and
// an eighth of physical memory, or ZUHOST_BLOCK_CACHE_MIB mebibytes when that
// is set in the environment before the first large block (0 turns the cache
// off). Beyond the bound the oldest blocks go back to the operating system.
struct BlockCacheState {
    std::uint64_t blocks = 0;  // blocks waiting in the cache
    std::uint64_t bytes = 0;   // their mapped size
    bool operator==(const BlockCacheState&) const = default;
};
ZUHOST_API BlockCacheState blockCacheState() noexcept;
ZUHOST_API std::uint64_t blockCacheBound() noexcept;
// Sets the bound for the process (0 turns the cache off); what lies beyond it goes back at once.
ZUHOST_API void setBlockCacheBound(std::uint64_t bytes) noexcept;
// Returns every cached block to the operating system.
ZUHOST_API void emptyBlockCache() noexcept;

// How one call of a module ended.
struct CallOutcome {
    ArrayPtr output;          // what the first output slot held; null if unset or failed
    bool failed = false;      // ended through zupErrMsgIdAndTxt (or a host error)
    std::string identifier;   // set when failed
    std::string message;      // set when failed
    // Whether the module stored anything in the first output slot, also when
    // the call then failed (the array is released by the host either way).
    bool firstSlotWritten = false;
};

// Memory for the output a module creates during one call, so that several
// calls can write disjoint parts of one larger array. The first array the
// module creates whose real data takes exactly `bytes` bytes (and that is
// complex exactly when `imag` is set) uses these blocks as borrowed data;
// any other array is allocated as usual. The caller keeps the blocks alive
// until the call's output array is released.
struct OutputPlacement {
    void* real = nullptr;
    void* imag = nullptr;
    std::uint64_t bytes = 0;
};

// A module file loaded as the host loads plug-ins. Calls may run on several
// threads at once; each thread's call keeps its own bookkeeping.
class ZUHOST_API Module {
public:
    // Throws std::runtime_error naming the file when it cannot be loaded or
    // lacks the entry point.
    explicit Module(const std::string& path);
    ~Module();
    Module(const Module&) = delete;
    Module& operator=(const Module&) = delete;

    CallOutcome call(std::span<const zuArray* const> inputs, int outputCount = 1) const;
    CallOutcome call(std::initializer_list<const zuArray*> inputs, int outputCount = 1) const;
    // The same, creating the module's output in `placement`.
    CallOutcome call(std::span<const zuArray* const> inputs, const OutputPlacement& placement,
                     int outputCount = 1) const;

    const std::string& path() const noexcept { return path_; }

private:
    std::string path_;
    void* handle_ = nullptr;
    zupFunctionType entry_ = nullptr;
};

}  // namespace zuhost

#endif  // ZUHOST_STANDIN_HOST_HPP

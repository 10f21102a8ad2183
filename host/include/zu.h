// The host's array and error interface, as a plug-in module sees it.
//
// A module compiles against this header and links against the host's two
// libraries: libzu (arrays and scratch memory) and libzup (errors and the
// plug-in entry). Everything here is read-only for the module except the
// arrays it creates itself.
#ifndef ZU_H
#define ZU_H

#include <cstddef>
#include <cstdint>

#if defined(_WIN32)
#  if defined(ZU_BUILDING_LIBZU)
#    define ZU_API __declspec(dllexport)
#  else
#    define ZU_API __declspec(dllimport)
#  endif
#  if defined(ZU_BUILDING_LIBZUP)
#    define ZUP_API __declspec(dllexport)
#  else
#    define ZUP_API __declspec(dllimport)
#  endif
#  define ZUP_MODULE_EXPORT extern "C" __declspec(dllexport)
#else
#  define ZU_API __attribute__((visibility("default")))
#  define ZUP_API __attribute__((visibility("default")))
#  define ZUP_MODULE_EXPORT extern "C" __attribute__((visibility("default")))
#endif

using zuClassID = std::int32_t;

// The class identifiers the module lists. The host has others (0, 1, 2, 4, 5
// and 16), known here by number only, as identifiers the module does not list.
// A stored identifier above zuLastPlainClass is not a class by itself: the
// host resolves it.
enum : zuClassID {
    zuLogicalClass = 3,
    zuDoubleClass = 6,
    zuSingleClass = 7,
    zuInt8Class = 8,
    zuUint8Class = 9,
    zuInt16Class = 10,
    zuUint16Class = 11,
    zuInt32Class = 12,
    zuUint32Class = 13,
    zuInt64Class = 14,
    zuUint64Class = 15,
    zuLastPlainClass = 16,
};

enum zuComplexity : int { zuREAL = 0, zuCOMPLEX = 1 };

// The host's record for one value. Fields are laid out by the host; a module
// reads them through the members below and never writes them.
struct zuArray_tag {
    zuClassID storedClassID;    // above zuLastPlainClass: resolve through the host
    std::uint64_t numDims;      // at least 2
    std::uint64_t* dims;        // numDims extents
    bool numericData;           // set for numeric and logical arrays
    bool sparse;
    void* realData;
    void* imagData;             // null for a real array
    zuClassID resolvedClassID;  // host-private: what a stored identifier above 16 names

    // The class identifier. The common case is read inline; only stored
    // values above zuLastPlainClass take the call into the host.
    zuClassID classID() const {
        return storedClassID > zuLastPlainClass ? _get_class_id_non_trivial() : storedClassID;
    }
    std::uint64_t numberOfDimensions() const { return numDims; }
    const std::uint64_t* get_dimensions() const { return dims; }
    bool isNumeric() const { return numericData; }
    bool isSparse() const { return sparse; }
    bool isComplex() const { return numericData && imagData != nullptr; }
    void* realPointer() const { return realData; }
    void* imagPointer() const { return imagData; }

    ZU_API zuClassID _get_class_id_non_trivial() const;
};
using zuArray = zuArray_tag;

extern "C" {

// libzu: arrays and scratch memory.
ZU_API double zuGetScalar(const zuArray* array);
ZU_API std::uint64_t zuGetN(const zuArray* array);
ZU_API std::uint64_t zuGetNumberOfElements(const zuArray* array);
ZU_API zuArray* zuCreateUninitNumericArray(std::uint64_t ndim, const std::uint64_t* dims,
                                           zuClassID classID, zuComplexity complexity);
ZU_API void* zuMalloc(std::size_t bytes);
ZU_API void zuFree(void* block);

// libzup: errors. Never returns: the host ends the call.
[[noreturn]] ZUP_API void zupErrMsgIdAndTxt(const char* identifier, const char* message);

}  // extern "C"

// The entry every module exports.
using zupFunctionType = void (*)(int outputCount, zuArray* outputs[], int inputCount, const zuArray* inputs[]);

#endif  // ZU_H

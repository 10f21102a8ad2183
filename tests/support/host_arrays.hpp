// Helpers for building host arrays from test data and reading results back.
#ifndef AXISWARP_TESTS_HOST_ARRAYS_HPP
#define AXISWARP_TESTS_HOST_ARRAYS_HPP

#include <zuhost/standin_host.hpp>

#include <cstdint>
#include <cstring>
#include <span>
#include <type_traits>
#include <vector>

namespace axiswarp::testing {

// The host's class identifier of a C++ element type.
template <class T>
constexpr zuClassID classOf() {
    if constexpr (std::is_same_v<T, double>) return zuDoubleClass;
    else if constexpr (std::is_same_v<T, float>) return zuSingleClass;
    else if constexpr (std::is_same_v<T, std::int8_t>) return zuInt8Class;
    else if constexpr (std::is_same_v<T, std::uint8_t>) return zuUint8Class;
    else if constexpr (std::is_same_v<T, std::int16_t>) return zuInt16Class;
    else if constexpr (std::is_same_v<T, std::uint16_t>) return zuUint16Class;
    else if constexpr (std::is_same_v<T, std::int32_t>) return zuInt32Class;
    else if constexpr (std::is_same_v<T, std::uint32_t>) return zuUint32Class;
    else if constexpr (std::is_same_v<T, std::int64_t>) return zuInt64Class;
    else if constexpr (std::is_same_v<T, std::uint64_t>) return zuUint64Class;
    else static_assert(sizeof(T) == 0, "no host class for this type");
}

// An array of class `classID` whose data (and imaginary data, if given) are
// copied from raw bytes of the right size.
inline zuhost::ArrayPtr makeArray(zuClassID classID, std::vector<std::uint64_t> dims,
                                  const void* real, const void* imag = nullptr,
                                  zuhost::ArrayOptions options = {}) {
    if (imag != nullptr) options.complexity = zuCOMPLEX;
    zuhost::ArrayPtr array = zuhost::createArray(classID, dims, options);
    const std::size_t bytes = zuhost::numberOfElements(*array) * zuhost::elementSize(classID);
    if (bytes != 0 && real != nullptr) std::memcpy(array->realData, real, bytes);
    if (bytes != 0 && imag != nullptr) std::memcpy(array->imagData, imag, bytes);
    return array;
}

template <class T>
zuhost::ArrayPtr makeTyped(std::vector<std::uint64_t> dims, const std::vector<T>& real,
                           const std::vector<T>* imag = nullptr) {
    return makeArray(classOf<T>(), std::move(dims), real.data(),
                     imag != nullptr ? imag->data() : nullptr);
}

inline zuhost::ArrayPtr makeDoubles(std::vector<std::uint64_t> dims, const std::vector<double>& values) {
    return makeTyped<double>(std::move(dims), values);
}

template <class T>
std::vector<T> realValues(const zuArray& array) {
    std::vector<T> values(zuhost::numberOfElements(array));
    if (!values.empty()) std::memcpy(values.data(), array.realData, values.size() * sizeof(T));
    return values;
}

template <class T>
std::vector<T> imagValues(const zuArray& array) {
    std::vector<T> values(zuhost::numberOfElements(array));
    if (!values.empty() && array.imagData != nullptr) {
        std::memcpy(values.data(), array.imagData, values.size() * sizeof(T));
    }
    return values;
}

}  // namespace axiswarp::testing

#endif  // AXISWARP_TESTS_HOST_ARRAYS_HPP

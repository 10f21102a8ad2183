// The element classes the module handles, bound to the types their data is
// read and written in. The class dispatch walks this list, and every level's
// kernel table (kernel_table.hpp) has an entry per distinct sample type of
// it; it lives with the kernels so that they need nothing from the gateway.
#ifndef AXISWARP_KERNELS_ELEMENT_TYPE_LIST_HPP
#define AXISWARP_KERNELS_ELEMENT_TYPE_LIST_HPP

#include <cstdint>

#include <zu.h>

namespace axiswarp {

// One entry: a class identifier and the sample type its data is read and
// written in, the type the kernels are instantiated for.
template <zuClassID Id, class Sample>
struct ElementType {
    static constexpr zuClassID classID = Id;
    using SampleType = Sample;
};

// A logical image is its own entry (its own typed pass) but has no kernels of
// its own: its 0/1 bytes go through the uint8 kernels into a uint8 output.
struct LogicalElement : ElementType<zuLogicalClass, std::uint8_t> {};

template <class... Entries>
struct TypeList {};

// Most frequent classes first: the order only changes how many comparisons a
// call makes, never which entry matches.
using ElementTypeList = TypeList<
    ElementType<zuDoubleClass, double>,
    ElementType<zuSingleClass, float>,
    ElementType<zuUint8Class, std::uint8_t>,
    ElementType<zuUint16Class, std::uint16_t>,
    ElementType<zuUint32Class, std::uint32_t>,
    ElementType<zuUint64Class, std::uint64_t>,
    ElementType<zuInt8Class, std::int8_t>,
    ElementType<zuInt16Class, std::int16_t>,
    ElementType<zuInt32Class, std::int32_t>,
    ElementType<zuInt64Class, std::int64_t>,
    LogicalElement>;

// Whether a class has an entry, that is whether a kernel will run for it.
template <class... Entries>
constexpr bool listsClass(TypeList<Entries...>, zuClassID classID) noexcept {
    return ((classID == Entries::classID) || ...);
}

}  // namespace axiswarp

#endif  // AXISWARP_KERNELS_ELEMENT_TYPE_LIST_HPP

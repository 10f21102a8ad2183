// Selects the element type of a call from the image's class, once per call.
#ifndef AXISWARP_GATEWAY_DISPATCH_BY_CLASS_HPP
#define AXISWARP_GATEWAY_DISPATCH_BY_CLASS_HPP

#include "gateway/raise_error.hpp"
#include "gateway/run_typed.hpp"
#include "kernels/element_type_list.hpp"

namespace axiswarp {

namespace detail {

// The fold stops at the first match, so a call makes at most one comparison
// per entry of the list.
template <class... Entries>
void dispatchOver(TypeList<Entries...>, zuClassID classID, const ResizeJob<zuArray>& job) {
    const bool matched =
        ((classID == Entries::classID ? (job.template runTyped<Entries>(), true) : false) || ...);
    if (!matched) raiseError(errors::invalidInputClass);
}

}  // namespace detail

// Runs the typed pass for the image's class (3 for a logical image, not the
// output's 9). A class in no entry ends the call with the class error.
inline void dispatchByClass(zuClassID classID, const ResizeJob<zuArray>& job) {
    detail::dispatchOver(ElementTypeList{}, classID, job);
}

}  // namespace axiswarp

#endif  // AXISWARP_GATEWAY_DISPATCH_BY_CLASS_HPP

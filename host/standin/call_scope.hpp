// Bookkeeping shared by libzu and libzup for one module call on one thread.
//
// While a scope is open on a thread, every array and scratch block created on
// that thread is recorded, so the loader can release whatever the call did not
// hand back, however the call ended.
#ifndef ZUHOST_CALL_SCOPE_HPP
#define ZUHOST_CALL_SCOPE_HPP

#include <zuhost/standin_host.hpp>

namespace zuhost::detail {

class ZUHOST_API CallScope {
public:
    // `placement`, when given, must outlive the scope.
    explicit CallScope(const OutputPlacement* placement = nullptr);
    ~CallScope();  // releases every block and every array not kept
    CallScope(const CallScope&) = delete;
    CallScope& operator=(const CallScope&) = delete;

    // Takes an array out of the call's bookkeeping: it outlives the call.
    // Returns false when the array was not created during this call.
    bool keep(const zuArray* array) noexcept;
};

}  // namespace zuhost::detail

#endif  // ZUHOST_CALL_SCOPE_HPP

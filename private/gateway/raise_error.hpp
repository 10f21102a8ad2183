// The one way the module reports a failure: through the host, never returning.
#ifndef AXISWARP_GATEWAY_RAISE_ERROR_HPP
#define AXISWARP_GATEWAY_RAISE_ERROR_HPP

#include "gateway/error_ids.hpp"

#include <zu.h>

namespace axiswarp {

[[noreturn]] inline void raiseError(const errors::ErrorText& error) {
    zupErrMsgIdAndTxt(error.identifier, error.message);
}

}  // namespace axiswarp

#endif  // AXISWARP_GATEWAY_RAISE_ERROR_HPP

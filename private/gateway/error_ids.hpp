// Identifiers and messages of every error the module raises. Callers match
// on the identifiers, so they never change once published.
#ifndef AXISWARP_GATEWAY_ERROR_IDS_HPP
#define AXISWARP_GATEWAY_ERROR_IDS_HPP

namespace axiswarp::errors {

struct ErrorText {
    const char* identifier;
    const char* message;
};

inline constexpr ErrorText invalidNumInputs{"Ovela:axisWarp:invalidNumInputs",
                                            "Four inputs are required."};
inline constexpr ErrorText invalidImage{"Ovela:axisWarp:invalidImage",
                                        "First input must be a full numeric or logical array."};
inline constexpr ErrorText tooManyDims{"Ovela:axisWarp:tooManyDims",
                                       "First input must be two- or three-dimensional."};
inline constexpr ErrorText badWeights{"Ovela:axisWarp:badWeights",
                                      "Weights must be a full two-dimensional double array."};
inline constexpr ErrorText badIndices{"Ovela:axisWarp:badIndices",
                                      "Indices must be a full two-dimensional double array."};
inline constexpr ErrorText sizeMismatch{"Ovela:axisWarp:sizeMismatch",
                                        "Weights and indices must be the same size."};
inline constexpr ErrorText invalidDim{"Ovela:axisWarp:invalidDim", "Invalid dimension is specified."};
inline constexpr ErrorText invalidInputClass{"Ovela:axisWarp:invalidInputClass",
                                             "Input image must be numeric or logical."};
inline constexpr ErrorText indexOutOfRange{
    "Ovela:axisWarp:indexOutOfRange",
    "Indices must lie between 1 and the image's extent along the resized dimension."};

}  // namespace axiswarp::errors

#endif  // AXISWARP_GATEWAY_ERROR_IDS_HPP

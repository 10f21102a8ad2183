// What the tool needs to know of an ICC colour profile it carries along.
//
// Profiles are never applied: they are kept byte for byte. Only --linear
// must know whether the samples are sRGB-encoded, which is told by the
// profile's description, as colour-managed software shows it to people.
#ifndef AXISWARP_TOOLS_ICC_PROFILE_HPP
#define AXISWARP_TOOLS_ICC_PROFILE_HPP

#include <cstddef>
#include <optional>
#include <span>
#include <string>

namespace axiswarp::tools {

// The profile's description (its 'desc' tag, in English where it has
// several); nullopt when the bytes are not a profile lcms2 can open.
std::optional<std::string> iccDescription(std::span<const std::byte> profile);

// Whether the profile is an sRGB one: its description names sRGB.
bool isSrgbProfile(std::span<const std::byte> profile);

}  // namespace axiswarp::tools

#endif  // AXISWARP_TOOLS_ICC_PROFILE_HPP

#include "imagefile/icc_profile.hpp"

#include <lcms2.h>

#include <limits>
#include <vector>

namespace axiswarp::tools {

std::optional<std::string> iccDescription(std::span<const std::byte> profile) {
    if (profile.empty() || profile.size() > std::numeric_limits<cmsUInt32Number>::max())
        return std::nullopt;
    cmsHPROFILE handle = cmsOpenProfileFromMem(profile.data(), static_cast<cmsUInt32Number>(profile.size()));
    if (handle == nullptr) return std::nullopt;
    std::optional<std::string> description;
    const cmsUInt32Number size = cmsGetProfileInfoASCII(handle, cmsInfoDescription, "en", "US", nullptr, 0);
    if (size > 0) {
        std::vector<char> text(size);
        cmsGetProfileInfoASCII(handle, cmsInfoDescription, "en", "US", text.data(), size);
        description = std::string(text.data());  // the text ends with a NUL
    }
    cmsCloseProfile(handle);
    return description;
}

bool isSrgbProfile(std::span<const std::byte> profile) {
    const std::optional<std::string> description = iccDescription(profile);
    return description && description->find("sRGB") != std::string::npos;
}

}  // namespace axiswarp::tools

#pragma once
// The reading routes the picture fuzzer reaches: the first input byte picks the file
// name (and so the route), the rest is the file. The seed maker and the replay of
// saved crashes use the same table.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace pictorix::fuzz {

// Every extension of the reading table, and one that no reader claims, which takes
// the route by content.
constexpr std::array<const char*, 10> kRouteExtensions = {
    ".bmp", ".jpg", ".png", ".gif", ".wmf", ".emf", ".ico", ".wbmp", ".jp2", ".dat"};

inline const char* RouteExtension(std::uint8_t selector) {
    return kRouteExtensions[selector % kRouteExtensions.size()];
}

// The selector byte of an extension (lower case, with its dot); the content route
// for any extension the table does not name.
inline std::uint8_t RouteSelector(const std::string& extension) {
    for (std::size_t i = 0; i < kRouteExtensions.size(); ++i)
        if (extension == kRouteExtensions[i]) return static_cast<std::uint8_t>(i);
    if (extension == ".jpeg") return 1;
    if (extension == ".jpc" || extension == ".j2k" || extension == ".j2c") return 8;
    return static_cast<std::uint8_t>(kRouteExtensions.size() - 1);
}

}  // namespace pictorix::fuzz

#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sim {

// A firmware image of the given size that carries its version as the marker
// "FWVER:" followed by three bytes, the rest a repeatable pseudo-random fill.
inline std::vector<uint8_t> makeFirmwareImage(size_t size, uint8_t major, uint8_t minor,
                                              uint8_t patch, uint32_t seed = 12345) {
    std::vector<uint8_t> image(size);
    uint32_t state = seed;
    for (auto& byte : image) {
        state = state * 1103515245u + 12345u;
        byte = static_cast<uint8_t>(state >> 16);
    }
    const std::string marker = "FWVER:";
    if (size >= 16 + marker.size() + 3) {
        std::copy(marker.begin(), marker.end(), image.begin() + 16);
        image[16 + marker.size()] = major;
        image[17 + marker.size()] = minor;
        image[18 + marker.size()] = patch;
    }
    return image;
}

} // namespace sim

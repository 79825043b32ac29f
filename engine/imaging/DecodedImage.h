#pragma once

#include <cstdint>
#include <vector>

namespace vantro {

// Packed 8-bit rows, top to bottom: 3 bytes a pixel (R, G, B) without alpha or
// 4 (R, G, B, A) with straight alpha. pixels.size() == width * height * channels().
struct DecodedImage {
    std::vector<uint8_t> pixels;
    int width = 0;
    int height = 0;
    bool hasAlpha = false;

    int channels() const { return hasAlpha ? 4 : 3; }
};

} // namespace vantro

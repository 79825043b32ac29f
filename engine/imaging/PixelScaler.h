#pragma once

#include <cstdint>
#include <vector>

namespace vantro {

namespace PixelScaler {

// Resamples packed 8-bit sRGB pixels (3 bytes a pixel, or 4 with straight
// alpha) to toWidth x toHeight with a high-quality filter. Returns the bytes in
// the same packing; throws CompressionError::encoderFailed.
std::vector<uint8_t> scale(const std::vector<uint8_t>& pixels, int64_t width, int64_t height, bool hasAlpha,
                           int64_t toWidth, int64_t toHeight);

} // namespace PixelScaler

} // namespace vantro

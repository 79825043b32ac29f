#pragma once

#include "Vips.h"

#include <cstddef>
#include <cstdint>

// Helpers shared by the decoder and the scaler for packed 8-bit pixel rows
// (3 bytes a pixel, or 4 with straight alpha).
namespace vantro::PackedPixels {

// A straight sample as an 8-bit premultiplied buffer stores it.
constexpr uint8_t premultiplied(unsigned straight, unsigned alpha)
{
    return static_cast<uint8_t>((straight * alpha + 127u) / 255u);
}

// The one rule that turns a premultiplied 8-bit sample back into a straight
// one: nothing is left of a colour under A = 0, and a sample that overshoots
// its alpha (resampling ringing) is clamped.
constexpr uint8_t unpremultiplied(unsigned premultipliedSample, unsigned alpha)
{
    if (alpha == 0)
        return 0;
    const unsigned value = (premultipliedSample * 255u + alpha / 2u) / alpha;
    return static_cast<uint8_t>(value < 255u ? value : 255u);
}

// Premultiplied RGBA to straight RGBA in place; A is kept.
void unpremultiplyRGBA(uint8_t* rgba, std::size_t pixelCount);

// Straight RGBA in place as it comes back from a premultiplied 8-bit buffer:
// each sample premultiplied, then un-premultiplied. Fully transparent pixels
// become 0, 0, 0, 0 whatever colour they held.
void passThroughPremultipliedRGBA(uint8_t* rgba, std::size_t pixelCount);

// Computes an 8-bit image straight into caller-owned memory whose layout must
// match the image exactly (Xsize x Ysize x Bands bytes). False on any libvips
// failure, with libvips' error text cleared.
bool writeInto(VipsImage* image, uint8_t* data, std::size_t size);

} // namespace vantro::PackedPixels

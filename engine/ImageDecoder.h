#pragma once

#include "DecodedImage.h"
#include "ImageFormat.h"

#include <QString>

#include <cstdint>
#include <utility>

namespace vantro {

namespace ImageDecoder {

// Every format comes out upright, its colours converted to 8-bit sRGB, alpha
// straight: JPEG, PNG and HEIC through libvips, WebP through libwebp and then
// the same libvips steps. AVIF is never decoded here (unsupportedFormat).
DecodedImage decode(const QString& path, ImageFormat format);

} // namespace ImageDecoder

namespace ImageDimensions {

// The displayed (width, height) of a file, orientation applied, read from its
// header without decoding pixels.
std::pair<int64_t, int64_t> read(const QString& path);

} // namespace ImageDimensions

} // namespace vantro

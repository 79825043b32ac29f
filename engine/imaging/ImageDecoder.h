#pragma once

#include "DecodedImage.h"
#include "ImageFormat.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <optional>

namespace vantro {

namespace ImageDecoder {

// Every format comes out upright, its colours converted to 8-bit sRGB, alpha
// straight: JPEG, PNG and HEIC through libvips, WebP through libwebp and then
// the same libvips steps. AVIF is never decoded here (unsupportedFormat). A
// JPEG or PNG whose lengths do not fit (ImageStructure::lengthsFit) throws
// corruptFile "Cannot decode image: " + file name before libvips reads it.
DecodedImage decode(const QString& path, ImageFormat format);

// True for a PNG with an animation control chunk before its image data. The
// engine refuses such a file on every road (unsupportedFormat): libvips would
// give its first frame alone, and a still image is not what the user had.
bool isAnimatedPng(const QString& path);

// A header can claim any size; nothing may be allocated for pixels before the
// claim is checked. Throws invalidConfiguration "Image too large (W × H
// pixels; at most 268435456 pixels are supported): " + fileName beyond the
// pixel budget.
void checkPixelBudget(int64_t width, int64_t height, const QString& fileName);

// Samples another library decoded (libwebp's) finished by the steps of the
// other decoders: turned upright by `orientation` and, when a profile is
// given, converted from it to sRGB. Alpha stays as it came, straight.
DecodedImage finish(const DecodedImage& stored, int orientation, const std::optional<QByteArray>& profile);

} // namespace ImageDecoder

} // namespace vantro

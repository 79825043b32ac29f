#pragma once

#include "DecodedImage.h"
#include "ImageFormat.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <optional>
#include <utility>

namespace vantro {

namespace ImageDecoder {

// Every format comes out upright, its colours converted to 8-bit sRGB, alpha
// straight: JPEG, PNG and HEIC through libvips, WebP through libwebp and then
// the same libvips steps. AVIF is never decoded here (unsupportedFormat).
DecodedImage decode(const QString& path, ImageFormat format);

// True for a PNG with an animation control chunk before its image data. The
// engine refuses such a file on every road (unsupportedFormat): libvips would
// give its first frame alone, and a still image is not what the user had.
bool isAnimatedPng(const QString& path);

// Samples another library decoded (libwebp's) finished by the steps of the
// other decoders: turned upright by `orientation` and, when a profile is
// given, converted from it to sRGB. Alpha stays as it came, straight.
DecodedImage finish(const DecodedImage& stored, int orientation, const std::optional<QByteArray>& profile);

} // namespace ImageDecoder

namespace ImageDimensions {

// The displayed (width, height) of a file, orientation applied, read from its
// header without decoding pixels.
std::pair<int64_t, int64_t> read(const QString& path);

// The (width, height) as the header stores it, before any turn: what a
// lossless optimiser keeps. Beyond the pixel budget it throws the decoder's own
// corruptFile "Image too large to decode (W × H pixels): " + file name, so a
// file the decoders refuse reaches no other road either.
std::pair<int64_t, int64_t> storedWithinBudget(const QString& path);

} // namespace ImageDimensions

} // namespace vantro

#pragma once

#include "CompressionSettings.h"
#include "DecodedImage.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <utility>

namespace vantro::WebPEncoder {

// (width, height) from the bitstream header, as decoded: exchanged when the
// EXIF orientation turns the image a quarter.
std::pair<int64_t, int64_t> readDimensions(const QString& path);

// Recompresses a WebP file as WebP, lossless or lossy at the mode's quality.
// An ICC profile of the source is kept so that colours do not shift; nothing
// else of its metadata is carried over.
QByteArray compress(const QString& path, const CompressionMode& mode);

// Encodes pixels with libwebp's one-call encoders, RGBA exactly when the image
// has alpha. Throws encoderFailed "libwebp encoding failed for " + fileName,
// also for anything libwebp cannot take (a side over 16383 pixels, a pixel
// buffer that does not match the size, a lossy quality outside 0...100).
QByteArray encode(const DecodedImage& image, const CompressionMode& mode, const QString& fileName);

} // namespace vantro::WebPEncoder

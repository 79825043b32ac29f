#pragma once

#include "CompressionSettings.h"
#include "DecodedImage.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <optional>
#include <utility>

namespace vantro {

namespace WebPEncoder {

// (width, height) from the bitstream header.
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

} // namespace WebPEncoder

namespace WebPICCProfile {

// The bytes of the sRGB ICC profile that conversions embed.
QByteArray sRGBICCProfileData();

// Returns the WebP with an "ICCP" chunk holding the profile.
QByteArray embedICCProfile(const QByteArray& webp, const QByteArray& iccProfile);

// The payload of the "ICCP" chunk; nothing when the file has none or is not a
// WebP file the mux library can parse.
std::optional<QByteArray> iccProfile(const QByteArray& webp);

} // namespace WebPICCProfile

} // namespace vantro

namespace vantro::WebPDecoder {

// Decodes a WebP bitstream in memory with its samples as stored: RGBA when the
// features report alpha, else RGB. No orientation, no colour management.
// Throws corruptFile "Cannot decode WebP: " + fileName.
DecodedImage decode(const QByteArray& data, const QString& fileName);

} // namespace vantro::WebPDecoder

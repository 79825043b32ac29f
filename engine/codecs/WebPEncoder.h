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

// Samples as the file stores them (for a WebP output that carries the
// source's profile along), or converted from its ICC profile to sRGB.
enum class Colours { asStored, sRGB };

// Decodes a WebP bitstream in memory: RGBA when the features report alpha,
// else RGB, turned upright by the file's EXIF orientation (no output carries
// the EXIF on, so the turn must be in the pixels). Throws corruptFile
// "Cannot decode WebP: " + fileName.
DecodedImage decode(const QByteArray& data, const QString& fileName, Colours colours = Colours::asStored);

// The EXIF orientation 1...8 of a WebP file; 1 when it has none.
int orientation(const QByteArray& webp);

} // namespace vantro::WebPDecoder

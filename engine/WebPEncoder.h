#pragma once

#include "CompressionSettings.h"
#include "DecodedImage.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <utility>

namespace vantro {

namespace WebPEncoder {

// (width, height) from the bitstream header.
std::pair<int64_t, int64_t> readDimensions(const QString& path);

// Recompresses a WebP file as WebP, lossless or lossy at the mode's quality.
QByteArray compress(const QString& path, const CompressionMode& mode);

} // namespace WebPEncoder

namespace WebPICCProfile {

// The bytes of the sRGB ICC profile that conversions embed.
QByteArray sRGBICCProfileData();

// Returns the WebP with an "ICCP" chunk holding the profile.
QByteArray embedICCProfile(const QByteArray& webp, const QByteArray& iccProfile);

} // namespace WebPICCProfile

} // namespace vantro

namespace vantro::WebPDecoder {

// Decodes a WebP bitstream in memory with its samples as stored: RGBA when the
// features report alpha, else RGB. No orientation, no colour management.
// Throws corruptFile "Cannot decode WebP: " + fileName.
DecodedImage decode(const QByteArray& data, const QString& fileName);

} // namespace vantro::WebPDecoder

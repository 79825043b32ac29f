#pragma once

#include "CompressionSettings.h"

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

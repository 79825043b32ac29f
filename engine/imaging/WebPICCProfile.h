#pragma once

#include <QByteArray>

#include <optional>

namespace vantro::WebPICCProfile {

// The bytes of the sRGB ICC profile that conversions embed.
QByteArray sRGBICCProfileData();

// Returns the WebP with an "ICCP" chunk holding the profile.
QByteArray embedICCProfile(const QByteArray& webp, const QByteArray& iccProfile);

// The payload of the "ICCP" chunk; nothing when the file has none or is not a
// WebP file the mux library can parse.
std::optional<QByteArray> iccProfile(const QByteArray& webp);

} // namespace vantro::WebPICCProfile

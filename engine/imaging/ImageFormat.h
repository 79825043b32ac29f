#pragma once

#include <QHashFunctions>
#include <QString>

#include <cstddef>
#include <functional>
#include <optional>

namespace vantro {

// The detected source format; the raw values are the lower-case names.
enum class ImageFormat { jpeg, png, webp, avif, heic };

QString rawValue(ImageFormat format);
std::optional<ImageFormat> imageFormatFromRawValue(const QString& raw);

} // namespace vantro

template <>
struct std::hash<vantro::ImageFormat> {
    std::size_t operator()(vantro::ImageFormat format) const noexcept { return qHash(vantro::rawValue(format)); }
};

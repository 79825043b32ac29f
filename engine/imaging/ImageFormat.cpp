#include "ImageFormat.h"

namespace vantro {

QString rawValue(ImageFormat format)
{
    switch (format) {
    case ImageFormat::jpeg:
        return QStringLiteral("jpeg");
    case ImageFormat::png:
        return QStringLiteral("png");
    case ImageFormat::webp:
        return QStringLiteral("webp");
    case ImageFormat::avif:
        return QStringLiteral("avif");
    case ImageFormat::heic:
        return QStringLiteral("heic");
    }
    return QString();
}

std::optional<ImageFormat> imageFormatFromRawValue(const QString& raw)
{
    for (ImageFormat f : {ImageFormat::jpeg, ImageFormat::png, ImageFormat::webp, ImageFormat::avif, ImageFormat::heic})
        if (rawValue(f) == raw)
            return f;
    return std::nullopt;
}

} // namespace vantro

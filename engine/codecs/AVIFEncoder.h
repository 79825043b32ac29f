#pragma once

#include "CompressionSettings.h"
#include "ResizeMode.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <utility>

namespace vantro {

// AVIF is only ever recompressed as AVIF: the decoded YUV image travels to the
// encoder as libavif holds it (pixel format, bit depth, colour properties,
// ICC, Exif and XMP), optionally scaled plane by plane.
namespace AVIFEncoder {

// Decodes the first image, scales it when the resize gives a new size, and
// encodes it again: quality 100 (lossless) for the lossless mode, else the
// mode's quality. Throws corruptFile "Cannot decode AVIF: " + name,
// encoderFailed "libavif resize failed for " + name or "libavif encoding
// failed for " + name + ": " + libavif's text, unsupportedFormat for an image
// sequence (only its first frame would survive), and std::system_error when
// the file cannot be read.
QByteArray compress(const QString& path, const CompressionMode& mode, const ResizeMode& resize);

// (width, height) of the primary image from the container, without decoding.
// Throws corruptFile "Cannot read AVIF dimensions: " + name.
std::pair<int64_t, int64_t> readDimensions(const QString& path);

} // namespace AVIFEncoder

} // namespace vantro

#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <optional>

namespace vantro::JPEGMetadata {

// Puts back into an optimised copy of a JPEG what must survive optimisation
// for the picture to look the same: the source's ICC profile (its APP2
// "ICC_PROFILE" markers, verbatim and in order) and, when the source's EXIF
// orientation is 2...8, a minimal EXIF block that holds only that orientation.
// Everything else stays stripped. The markers go right after the start of
// image, or after a JFIF APP0 that follows it. When either file's header
// cannot be read, or the source has nothing to carry over, the optimised bytes
// are returned unchanged.
QByteArray restoreOrientationAndProfile(const QByteArray& source, const QByteArray& optimised);

// The orientation 1...8 that an EXIF block holds (a TIFF structure, with or
// without the "Exif\0\0" identifier in front, as JPEG and WebP files carry
// it), whatever integer type and byte order the entry uses; nothing when there
// is none or it cannot be read.
std::optional<int> exifOrientation(QByteArrayView exif);

} // namespace vantro::JPEGMetadata

#pragma once

#include "DecodedImage.h"

#include <QByteArray>
#include <QString>

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

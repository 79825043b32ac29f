#pragma once

#include "DecodedImage.h"
#include "OptimiserTool.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <optional>

namespace vantro::JPEGEncoder {

// Encodes RGB pixels with mozjpeg's default profile (progressive, optimised
// scans) at the given quality, with the ICC profile as APP2 markers when one
// is given and not empty. The same-format re-encode of a JPEG calls this with
// no profile. Throws encoderFailed "JPEG encoding does not support an alpha
// channel" for an image with alpha, and "mozjpeg compression failed for " +
// sourceDescription for anything the library refuses and for sizes, qualities
// or pixel buffers the shim cannot take.
QByteArray compress(const DecodedImage& image, int64_t quality, const QString& sourceDescription,
                    const std::optional<QByteArray>& iccProfile);

// Optimises a JPEG file without loss with the bundled jpegtran (no extra
// markers, optimised entropy coding), then puts back the source's ICC profile
// and EXIF orientation so the picture does not turn or change colour. Errors
// as OptimiserTool::run, with "jpegtran binary not found in bundle" and
// "jpegtran failed: ".
QByteArray compressLossless(const QString& inputPath);

// The jpegtran run that compressLossless starts from.
const OptimiserTool& losslessTool();

} // namespace vantro::JPEGEncoder

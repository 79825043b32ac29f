#pragma once

#include "DecodedImage.h"
#include "OptimiserTool.h"

#include <QByteArray>
#include <QString>

namespace vantro::PNGEncoder {

// Optimises a PNG file without loss with the bundled oxipng at its default
// level. Errors as OptimiserTool::run, with "oxipng binary not found in
// bundle" and "oxipng failed: ".
QByteArray compressLossless(const QString& inputPath);

// Writes the pixels as a plain 8-bit PNG (RGBA with straight alpha when the
// image has alpha, else RGB; no colour profile, no metadata), stages it as
// "<UUID>.png" in the tool's private folder and optimises it there. The staged
// file is gone when the call returns. Throws encoderFailed "Cannot
// create image for resized PNG" (also for a size beyond the pixel budget or a
// pixel buffer that does not match it) or "Failed to finalize resized PNG",
// ioFailure "Failed to stage resized PNG for oxipng: " + the system's reason,
// and the errors of compressLossless.
QByteArray compressResized(const DecodedImage& decoded);

// The oxipng run that compressLossless starts from.
const OptimiserTool& losslessTool();

} // namespace vantro::PNGEncoder

#pragma once

#include "ImageFormat.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <optional>

namespace vantro {

// An optimiser's exit status says nothing about its file: a tool whose write
// failed on a full disk can still exit 0 and leave the first part of the
// image. Before such a file may replace anything it has to parse whole.
namespace ToolOutputCheck {

// What is wrong with the bytes as a complete image of the given stored size,
// or nothing when there is no fault. A JPEG must run marker by marker, through
// the entropy-coded data of every scan, to an end-of-image marker after its
// last scan, with one frame header of that size; a PNG must run chunk by chunk
// with valid CRCs to IEND, with an IHDR of that size and image data.
std::optional<QString> problem(const QByteArray& bytes, ImageFormat format, int64_t width, int64_t height);

} // namespace ToolOutputCheck

} // namespace vantro

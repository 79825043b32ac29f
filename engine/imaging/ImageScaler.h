#pragma once

#include "ResizeMode.h"

#include <cstdint>
#include <optional>
#include <utility>

namespace vantro {

// The one place that turns a ResizeMode into a target size.
namespace ImageScaler {

// The target (width, height), or nothing when the image stays as it is.
std::optional<std::pair<int64_t, int64_t>> scaledDimensions(int64_t width, int64_t height, const ResizeMode& resize);

} // namespace ImageScaler

} // namespace vantro

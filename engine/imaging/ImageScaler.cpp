#include "ImageScaler.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace vantro::ImageScaler {

namespace {

// Both sides times one factor, halves rounded away from zero, never below 1.
// A product that is not finite or does not fit 64 bits saturates instead of
// overflowing; such a size is refused later by the pixel budget.
std::pair<int64_t, int64_t> scaled(int64_t width, int64_t height, double factor)
{
    const auto side = [factor](int64_t length) -> int64_t {
        const double value = std::round(static_cast<double>(length) * factor);
        if (std::isnan(value) || value < 1)
            return 1;
        if (value >= 9.2e18)
            return std::numeric_limits<int64_t>::max();
        return static_cast<int64_t>(value);
    };
    return {side(width), side(height)};
}

} // namespace

std::optional<std::pair<int64_t, int64_t>> scaledDimensions(int64_t width, int64_t height, const ResizeMode& resize)
{
    if (width < 1 || height < 1)
        return std::nullopt;
    const int64_t n = resize.pixels();
    const auto by
        = [&](int64_t side) { return scaled(width, height, static_cast<double>(n) / static_cast<double>(side)); };

    switch (resize.kind()) {
    case ResizeMode::Kind::maxDimension: {
        const int64_t longest = std::max(width, height);
        if (n < 1 || n >= longest)
            return std::nullopt;
        return by(longest);
    }
    case ResizeMode::Kind::maxShortEdge: {
        const int64_t shortest = std::min(width, height);
        if (n < 1 || n >= shortest)
            return std::nullopt;
        return by(shortest);
    }
    case ResizeMode::Kind::maxWidth:
        if (n < 1 || n >= width)
            return std::nullopt;
        return by(width);
    case ResizeMode::Kind::maxHeight:
        if (n < 1 || n >= height)
            return std::nullopt;
        return by(height);
    case ResizeMode::Kind::exactWidth:
        if (n < 1 || n == width)
            return std::nullopt;
        return by(width);
    case ResizeMode::Kind::exactHeight:
        if (n < 1 || n == height)
            return std::nullopt;
        return by(height);
    case ResizeMode::Kind::percentage: {
        const double p = resize.percent();
        if (std::isnan(p) || p <= 0 || p == 100)
            return std::nullopt;
        return scaled(width, height, p / 100);
    }
    case ResizeMode::Kind::none:
        return std::nullopt;
    }
    return std::nullopt;
}

} // namespace vantro::ImageScaler

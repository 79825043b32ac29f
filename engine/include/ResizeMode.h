#pragma once

#include <cstdint>

namespace vantro {

// The resize applied before encoding. Every case keeps the aspect ratio;
// ImageScaler::scaledDimensions turns it into a target size.
class ResizeMode {
public:
    enum class Kind { maxDimension, maxShortEdge, maxWidth, maxHeight, exactWidth, exactHeight, percentage, none };

    ResizeMode() = default; // none
    static ResizeMode maxDimension(int64_t pixels) { return {Kind::maxDimension, pixels, 0}; }
    static ResizeMode maxShortEdge(int64_t pixels) { return {Kind::maxShortEdge, pixels, 0}; }
    static ResizeMode maxWidth(int64_t pixels) { return {Kind::maxWidth, pixels, 0}; }
    static ResizeMode maxHeight(int64_t pixels) { return {Kind::maxHeight, pixels, 0}; }
    static ResizeMode exactWidth(int64_t pixels) { return {Kind::exactWidth, pixels, 0}; }
    static ResizeMode exactHeight(int64_t pixels) { return {Kind::exactHeight, pixels, 0}; }
    static ResizeMode percentage(double percent) { return {Kind::percentage, 0, percent}; }
    static ResizeMode none() { return {}; }

    Kind kind() const { return m_kind; }
    // The payload of the six pixel-count cases; 0 otherwise.
    int64_t pixels() const { return m_pixels; }
    // The payload of percentage; 0 otherwise.
    double percent() const { return m_percent; }

    // Same case and equal payload; percentages compare as floating point, so a
    // NaN payload equals nothing and +0 equals -0.
    friend bool operator==(const ResizeMode& a, const ResizeMode& b)
    {
        if (a.m_kind != b.m_kind)
            return false;
        if (a.m_kind == Kind::percentage)
            return a.m_percent == b.m_percent;
        return a.m_pixels == b.m_pixels;
    }

private:
    ResizeMode(Kind kind, int64_t pixels, double percent) : m_kind(kind), m_pixels(pixels), m_percent(percent) {}

    Kind m_kind = Kind::none;
    int64_t m_pixels = 0;
    double m_percent = 0;
};

} // namespace vantro

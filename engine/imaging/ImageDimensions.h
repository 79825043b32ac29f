#pragma once

#include <QString>

#include <cstdint>
#include <utility>

namespace vantro::ImageDimensions {

// The displayed (width, height) of a file, orientation applied, read from its
// header without decoding pixels. A JPEG or PNG whose lengths do not fit
// (ImageStructure::lengthsFit) throws corruptFile "Cannot read image
// dimensions: " + file name before libvips reads it.
std::pair<int64_t, int64_t> read(const QString& path);

// The (width, height) as the header stores it, before any turn: what a
// lossless optimiser keeps. Beyond the pixel budget it throws the decoder's own
// invalidConfiguration "Image too large (...)", so a file the decoders refuse
// reaches no other road either.
std::pair<int64_t, int64_t> storedWithinBudget(const QString& path);

} // namespace vantro::ImageDimensions

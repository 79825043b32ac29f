#pragma once

#include "ImageFormat.h"

#include <QString>

namespace vantro {

// Tells a file's format from its leading bytes, never from its name.
namespace FormatDetector {

// Throws CompressionError (ioFailure, corruptFile, unsupportedFormat); a read
// error of the file system passes as std::system_error.
ImageFormat detectFormat(const QString& path);

// The same test on bytes already in memory (at most the first 16 are looked at).
// Returns nothing when too few bytes; throws unsupportedFormat when no signature matches.
std::optional<ImageFormat> detectFormat(const unsigned char* bytes, std::size_t size);

} // namespace FormatDetector

} // namespace vantro

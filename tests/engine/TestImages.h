#pragma once

// Shared helpers of the engine tests: generated images, files and errors.
// Before any Qt header: glib's headers use "signals" as a name, which Qt defines.
#include "Vips.h"

#include "CompressionError.h"
#include "DecodedImage.h"

#include <QByteArray>
#include <QString>

#include <gtest/gtest.h>

#include <optional>

namespace vantro::test {

// A smooth picture with fine grain, like a photo; alpha 200 when asked for.
DecodedImage photoLike(int width, int height, bool alpha = false);

// One colour everywhere.
DecodedImage flatImage(int width, int height, std::vector<uint8_t> pixel);

// Encodes with libvips (the system codecs), e.g. suffix ".jpg[Q=92]" or ".png".
// The orientation and the profile, when given, are written into the file.
QByteArray vipsEncode(const DecodedImage& image, const char* suffix, std::optional<int> orientation = std::nullopt,
                      const QByteArray& iccProfile = {});

// One of libvips' built-in profiles: "sRGB", "p3", "cmyk".
QByteArray builtInProfile(const char* name);

// A still AVIF of a generated picture, 8-bit 4:2:0, at a libavif quantizer.
QByteArray avifPicture(int width, int height, bool alpha = false, int quantizer = 24);

QByteArray readFile(const QString& path);
void writeFile(const QString& path, const QByteArray& bytes);

// The CompressionError that call throws; a test failure when it throws none.
template <typename Call>
CompressionError errorOf(Call&& call)
{
    try {
        call();
    } catch (const CompressionError& error) {
        return error;
    }
    ADD_FAILURE() << "no CompressionError thrown";
    return CompressionError::unsupportedFormat();
}

} // namespace vantro::test

#include "TestImages.h"

#include "CompressionError.h"
#include "PixelScaler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <vector>

using namespace vantro;
using namespace vantro::test;

namespace {

std::vector<uint8_t> flatPixels(std::vector<uint8_t> pixel, int64_t width, int64_t height)
{
    std::vector<uint8_t> pixels;
    for (int64_t i = 0; i < width * height; ++i)
        pixels.insert(pixels.end(), pixel.begin(), pixel.end());
    return pixels;
}

bool allPixelsEqual(const std::vector<uint8_t>& pixels, const std::vector<uint8_t>& pixel)
{
    for (std::size_t i = 0; i < pixels.size(); i += pixel.size())
        if (!std::equal(pixel.begin(), pixel.end(), pixels.begin() + static_cast<std::ptrdiff_t>(i)))
            return false;
    return true;
}

void expectEncoderFailed(const std::function<void()>& call, const QString& message)
{
    const CompressionError error = errorOf(call);
    EXPECT_EQ(error, CompressionError::encoderFailed(message)) << error.what();
}

TEST(PixelScalerTest, OutputHasExactlyTheTargetSize)
{
    struct Case {
        int64_t width, height, toWidth, toHeight;
    };
    const Case cases[] = {
        {301, 199, 100, 67},  // shrink
        {7, 5, 23, 17},       // enlarge
        {100, 10, 13, 40},    // shrink one way, enlarge the other
        {1000, 1, 1, 1},      // extreme shrink
        {1, 1, 5, 3},         // from a single pixel
        {3, 3, 2, 2},
        {2999, 7, 1000, 2},
    };
    for (const Case& c : cases) {
        for (const bool hasAlpha : {false, true}) {
            const std::vector<uint8_t> source
                = flatPixels(hasAlpha ? std::vector<uint8_t>{10, 20, 30, 200} : std::vector<uint8_t>{10, 20, 30},
                             c.width, c.height);
            const auto result = PixelScaler::scale(source, c.width, c.height, hasAlpha, c.toWidth, c.toHeight);
            EXPECT_EQ(result.size(), static_cast<std::size_t>(c.toWidth * c.toHeight * (hasAlpha ? 4 : 3)))
                << c.width << "x" << c.height << " to " << c.toWidth << "x" << c.toHeight << " alpha " << hasAlpha;
        }
    }
}

TEST(PixelScalerTest, FlatAndTransparentImagesStayAsTheyAre)
{
    const auto rgb = PixelScaler::scale(flatPixels({12, 200, 77}, 40, 30), 40, 30, false, 17, 61);
    EXPECT_TRUE(allPixelsEqual(rgb, {12, 200, 77}));

    const auto opaque = PixelScaler::scale(flatPixels({12, 200, 77, 255}, 40, 30), 40, 30, true, 13, 9);
    EXPECT_TRUE(allPixelsEqual(opaque, {12, 200, 77, 255}));

    // Half transparent: flat, alpha kept, colour within premultiplied rounding.
    const auto half = PixelScaler::scale(flatPixels({12, 200, 77, 128}, 40, 30), 40, 30, true, 90, 7);
    ASSERT_TRUE(allPixelsEqual(half, {half[0], half[1], half[2], half[3]}));
    EXPECT_EQ(half[3], 128);
    EXPECT_NEAR(half[0], 12, 1);
    EXPECT_NEAR(half[1], 200, 1);
    EXPECT_NEAR(half[2], 77, 1);

    // Whatever colour a transparent pixel stores, nothing of it survives.
    const auto clear = PixelScaler::scale(flatPixels({255, 0, 0, 0}, 40, 30), 40, 30, true, 25, 50);
    EXPECT_TRUE(allPixelsEqual(clear, {0, 0, 0, 0}));
}

TEST(PixelScalerTest, TransparentColourDoesNotBleedIntoVisiblePixels)
{
    // Left half: transparent but stored as green; right half: opaque red.
    const int64_t width = 64;
    const int64_t height = 8;
    std::vector<uint8_t> pixels;
    for (int64_t y = 0; y < height; ++y)
        for (int64_t x = 0; x < width; ++x)
            pixels.insert(pixels.end(), x < width / 2 ? std::initializer_list<uint8_t>{0, 255, 0, 0}
                                                      : std::initializer_list<uint8_t>{255, 0, 0, 255});
    const auto result = PixelScaler::scale(pixels, width, height, true, 16, 2);
    for (std::size_t i = 0; i < result.size(); i += 4) {
        if (result[i + 3] == 0)
            continue;
        EXPECT_GE(result[i], 250) << "pixel " << i / 4;
        EXPECT_LE(result[i + 1], 3) << "pixel " << i / 4;
    }
}

TEST(PixelScalerTest, BadSizesFailBeforeAllocating)
{
    const auto source = flatPixels({1, 2, 3}, 10, 10);
    expectEncoderFailed([&] { PixelScaler::scale(source, 10, 10, false, 100000, 100000); },
                        QStringLiteral("Resize target too large (100000 \u00D7 100000 pixels)"));
    expectEncoderFailed([&] { PixelScaler::scale(source, 10, 10, false, int64_t{1} << 40, 1); },
                        QStringLiteral("Resize target too large (1099511627776 \u00D7 1 pixels)"));
    expectEncoderFailed([&] { PixelScaler::scale(source, 10, 10, false, 0, 5); },
                        QStringLiteral("Cannot create resize context"));

    const QString noSource = QStringLiteral("Cannot create source image for resize");
    expectEncoderFailed([&] { PixelScaler::scale(source, 10, 10, true, 5, 5); }, noSource); // 3, not 4, bytes a pixel
    expectEncoderFailed([&] { PixelScaler::scale(source, 10, 11, false, 5, 5); }, noSource);
    expectEncoderFailed([&] { PixelScaler::scale({}, 0, 0, false, 5, 5); }, noSource);
    // A product that would wrap around in 64 bits must not pass for the right byte count.
    expectEncoderFailed([&] { PixelScaler::scale(source, int64_t{1} << 62, 4, false, 5, 5); }, noSource);
}

} // namespace

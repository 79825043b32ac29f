#include "TestImages.h"

#include "CompressionError.h"
#include "PixelScaler.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

using namespace vantro;
using namespace vantro::test;

namespace {

std::vector<uint8_t> repeated(const std::vector<uint8_t>& pixel, int64_t count)
{
    std::vector<uint8_t> pixels;
    for (int64_t i = 0; i < count; ++i)
        pixels.insert(pixels.end(), pixel.begin(), pixel.end());
    return pixels;
}

struct Case {
    const char* name;
    int64_t width, height, toWidth, toHeight;
};

class PixelScalerTest : public testing::TestWithParam<Case> {};

// libvips rounds the size it makes; the output must still be exactly the
// target. A flat picture stays flat: opaque samples exactly, half-transparent
// ones within premultiplied rounding, and whatever colour a transparent pixel
// stores, nothing of it survives (resampling premultiplied samples keeps it
// from bleeding into visible neighbours).
TEST_P(PixelScalerTest, FlatPixelsKeepTheirValueAtExactlyTheTargetSize)
{
    const Case& c = GetParam();
    for (const std::vector<uint8_t>& pixel :
         std::vector<std::vector<uint8_t>>{{12, 200, 77}, {12, 200, 77, 255}, {12, 200, 77, 128}, {255, 0, 0, 0}}) {
        const size_t n = pixel.size();
        const auto result
            = PixelScaler::scale(repeated(pixel, c.width * c.height), c.width, c.height, n == 4, c.toWidth, c.toHeight);
        ASSERT_EQ(result.size(), static_cast<size_t>(c.toWidth * c.toHeight) * n);
        const std::vector<uint8_t> expected = n == 4 && pixel[3] == 0 ? std::vector<uint8_t>(4, 0) : pixel;
        const int tolerance = n == 4 && pixel[3] == 128 ? 1 : 0;
        for (size_t i = 0; i < result.size(); ++i)
            ASSERT_NEAR(result[i], expected[i % n], i % n < 3 ? tolerance : 0) << "byte " << i << ", pixels of " << n;
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, PixelScalerTest,
                         testing::Values(Case{"Shrink", 301, 199, 100, 67}, Case{"Enlarge", 7, 5, 23, 17},
                                         Case{"ShrinkAndEnlarge", 100, 10, 13, 40}, Case{"ToOnePixel", 1000, 1, 1, 1},
                                         Case{"FromOnePixel", 1, 1, 5, 3}, Case{"OddShrink", 2999, 7, 1000, 2}),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(PixelScalerEdgeTest, BadSizesFailBeforeAllocating)
{
    const auto source = repeated({1, 2, 3}, 100);
    const auto fails = [&](const std::vector<uint8_t>& pixels, int64_t width, int64_t height, bool alpha,
                           int64_t toWidth, int64_t toHeight, const QString& message) {
        EXPECT_EQ(errorOf([&] { PixelScaler::scale(pixels, width, height, alpha, toWidth, toHeight); }),
                  CompressionError::encoderFailed(message));
    };
    fails(source, 10, 10, false, 100000, 100000,
          QStringLiteral("Resize target too large (100000 \u00D7 100000 pixels)"));
    fails(source, 10, 10, false, int64_t{1} << 40, 1,
          QStringLiteral("Resize target too large (1099511627776 \u00D7 1 pixels)"));
    fails(source, 10, 10, false, 0, 5, QStringLiteral("Cannot create resize context"));
    const QString noSource = QStringLiteral("Cannot create source image for resize");
    fails(source, 10, 10, true, 5, 5, noSource); // 3, not 4, bytes a pixel
    fails(source, 10, 11, false, 5, 5, noSource);
    fails({}, 0, 0, false, 5, 5, noSource);
    // A product that would wrap around in 64 bits must not pass for the right byte count.
    fails(source, int64_t{1} << 62, 4, false, 5, 5, noSource);
}

} // namespace

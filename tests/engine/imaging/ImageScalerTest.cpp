#include "ImageScaler.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace vantro;

namespace {
using Size = std::optional<std::pair<int64_t, int64_t>>;
Size size(int64_t w, int64_t h)
{
    return std::make_pair(w, h);
}
} // namespace

TEST(ImageScalerTest, MaximumCasesOnlyShrink)
{
    EXPECT_EQ(ImageScaler::scaledDimensions(3000, 2000, ResizeMode::maxDimension(1000)), size(1000, 667));
    EXPECT_EQ(ImageScaler::scaledDimensions(3000, 2000, ResizeMode::maxDimension(3000)), std::nullopt);
    EXPECT_EQ(ImageScaler::scaledDimensions(3000, 2000, ResizeMode::maxDimension(4000)), std::nullopt);
    EXPECT_EQ(ImageScaler::scaledDimensions(2000, 3000, ResizeMode::maxDimension(1000)), size(667, 1000));
    EXPECT_EQ(ImageScaler::scaledDimensions(3000, 2000, ResizeMode::maxShortEdge(1000)), size(1500, 1000));
    EXPECT_EQ(ImageScaler::scaledDimensions(3000, 2000, ResizeMode::maxShortEdge(2000)), std::nullopt);
    EXPECT_EQ(ImageScaler::scaledDimensions(3000, 2000, ResizeMode::maxWidth(1500)), size(1500, 1000));
    EXPECT_EQ(ImageScaler::scaledDimensions(3000, 2000, ResizeMode::maxWidth(3000)), std::nullopt);
    EXPECT_EQ(ImageScaler::scaledDimensions(3000, 2000, ResizeMode::maxHeight(500)), size(750, 500));
    EXPECT_EQ(ImageScaler::scaledDimensions(3000, 2000, ResizeMode::maxHeight(2001)), std::nullopt);
    EXPECT_EQ(ImageScaler::scaledDimensions(3000, 1, ResizeMode::maxDimension(1000)), size(1000, 1));
    EXPECT_EQ(ImageScaler::scaledDimensions(3000, 2000, ResizeMode::maxWidth(0)), std::nullopt);
    EXPECT_EQ(ImageScaler::scaledDimensions(3000, 2000, ResizeMode::maxShortEdge(-4)), std::nullopt);
}

TEST(ImageScalerTest, ExactAndPercentageCasesAlsoEnlarge)
{
    EXPECT_EQ(ImageScaler::scaledDimensions(800, 600, ResizeMode::exactWidth(1600)), size(1600, 1200));
    EXPECT_EQ(ImageScaler::scaledDimensions(800, 600, ResizeMode::exactWidth(800)), std::nullopt);
    EXPECT_EQ(ImageScaler::scaledDimensions(800, 600, ResizeMode::exactWidth(400)), size(400, 300));
    EXPECT_EQ(ImageScaler::scaledDimensions(800, 600, ResizeMode::exactHeight(900)), size(1200, 900));
    EXPECT_EQ(ImageScaler::scaledDimensions(800, 600, ResizeMode::exactHeight(600)), std::nullopt);
    EXPECT_EQ(ImageScaler::scaledDimensions(3, 3, ResizeMode::percentage(50)), size(2, 2));
    EXPECT_EQ(ImageScaler::scaledDimensions(1000, 200, ResizeMode::percentage(100.5)), size(1005, 201));
    EXPECT_EQ(ImageScaler::scaledDimensions(1000, 200, ResizeMode::percentage(1000)), size(10000, 2000));
    EXPECT_EQ(ImageScaler::scaledDimensions(1000, 1, ResizeMode::percentage(1)), size(10, 1));
    for (double p : {100.0, 0.0, -5.0, std::nan("")})
        EXPECT_EQ(ImageScaler::scaledDimensions(1000, 200, ResizeMode::percentage(p)), std::nullopt) << p;
    EXPECT_EQ(ImageScaler::scaledDimensions(1000, 200, ResizeMode::none()), std::nullopt);
}

TEST(ImageScalerTest, OutOfRangeInputsNeitherFailNorOverflow)
{
    const auto huge = ImageScaler::scaledDimensions(1, 1, ResizeMode::percentage(std::numeric_limits<double>::max()));
    ASSERT_TRUE(huge.has_value());
    EXPECT_GT(huge->first, 0);
    const auto inf = ImageScaler::scaledDimensions(5, 5, ResizeMode::percentage(std::numeric_limits<double>::infinity()));
    ASSERT_TRUE(inf.has_value());
    EXPECT_GT(inf->second, 0);
    EXPECT_EQ(ImageScaler::scaledDimensions(0, 10, ResizeMode::exactWidth(5)), std::nullopt);
    const auto tiny = ImageScaler::scaledDimensions(5, 5, ResizeMode::percentage(1e-300));
    EXPECT_EQ(tiny, size(1, 1));
}

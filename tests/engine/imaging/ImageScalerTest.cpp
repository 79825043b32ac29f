#include "ImageScaler.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace vantro;

namespace {

using Size = std::optional<std::pair<int64_t, int64_t>>;

struct Case {
    const char* name;
    int64_t width, height;
    ResizeMode resize;
    Size expected; // nothing: the image keeps its size
};

class ImageScalerTest : public testing::TestWithParam<Case> {};

TEST_P(ImageScalerTest, ScaledDimensions)
{
    const Case& c = GetParam();
    EXPECT_EQ(ImageScaler::scaledDimensions(c.width, c.height, c.resize), c.expected);
}

constexpr double kHuge = std::numeric_limits<double>::max();
constexpr int64_t kSaturated = std::numeric_limits<int64_t>::max();

// The maximum cases only shrink; the exact and percentage cases also enlarge.
// Halves round away from zero and no side goes below 1.
INSTANTIATE_TEST_SUITE_P(
    Resize, ImageScalerTest,
    testing::Values(Case{"MaxDimensionLandscape", 3000, 2000, ResizeMode::maxDimension(1000), {{1000, 667}}},
                    Case{"MaxDimensionPortrait", 2000, 3000, ResizeMode::maxDimension(1000), {{667, 1000}}},
                    Case{"MaxDimensionAtTheSize", 3000, 2000, ResizeMode::maxDimension(3000), {}},
                    Case{"MaxDimensionNeverBelowOne", 3000, 1, ResizeMode::maxDimension(1000), {{1000, 1}}},
                    Case{"MaxShortEdge", 3000, 2000, ResizeMode::maxShortEdge(1000), {{1500, 1000}}},
                    Case{"MaxShortEdgeAtTheSize", 3000, 2000, ResizeMode::maxShortEdge(2000), {}},
                    Case{"MaxShortEdgeNegative", 3000, 2000, ResizeMode::maxShortEdge(-4), {}},
                    Case{"MaxWidth", 3000, 2000, ResizeMode::maxWidth(1500), {{1500, 1000}}},
                    Case{"MaxWidthAtTheSize", 3000, 2000, ResizeMode::maxWidth(3000), {}},
                    Case{"MaxWidthZero", 3000, 2000, ResizeMode::maxWidth(0), {}},
                    Case{"MaxHeight", 3000, 2000, ResizeMode::maxHeight(500), {{750, 500}}},
                    Case{"MaxHeightAbove", 3000, 2000, ResizeMode::maxHeight(2001), {}},
                    Case{"ExactWidthEnlarges", 800, 600, ResizeMode::exactWidth(1600), {{1600, 1200}}},
                    Case{"ExactWidthAtTheSize", 800, 600, ResizeMode::exactWidth(800), {}},
                    Case{"ExactWidthShrinks", 800, 600, ResizeMode::exactWidth(400), {{400, 300}}},
                    Case{"ExactHeightEnlarges", 800, 600, ResizeMode::exactHeight(900), {{1200, 900}}},
                    Case{"ExactHeightAtTheSize", 800, 600, ResizeMode::exactHeight(600), {}},
                    Case{"PercentHalvesRoundUp", 3, 3, ResizeMode::percentage(50), {{2, 2}}},
                    Case{"PercentFraction", 1000, 200, ResizeMode::percentage(100.5), {{1005, 201}}},
                    Case{"PercentNeverBelowOne", 5, 5, ResizeMode::percentage(1e-300), {{1, 1}}},
                    Case{"PercentSaturates", 1, 1, ResizeMode::percentage(kHuge), {{kSaturated, kSaturated}}},
                    Case{"PercentInfinite", 5, 5, ResizeMode::percentage(INFINITY), {{kSaturated, kSaturated}}},
                    Case{"PercentHundred", 1000, 200, ResizeMode::percentage(100), {}},
                    Case{"PercentZero", 1000, 200, ResizeMode::percentage(0), {}},
                    Case{"PercentNegative", 1000, 200, ResizeMode::percentage(-5), {}},
                    Case{"PercentNaN", 1000, 200, ResizeMode::percentage(std::nan("")), {}},
                    Case{"None", 1000, 200, ResizeMode::none(), {}},
                    Case{"EmptySource", 0, 10, ResizeMode::exactWidth(5), {}}),
    [](const auto& p) { return std::string(p.param.name); });

} // namespace

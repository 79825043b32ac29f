#include "PackedPixels.h"

#include "Vips.h"

#include <array>

namespace vantro::PackedPixels {

namespace {

// Indexed by alpha * 256 + sample: a division per sample would dominate the
// cost of a 24-megapixel image.
using Table = std::array<uint8_t, 256 * 256>;

template <typename Rule>
Table buildTable(Rule rule)
{
    Table table{};
    for (unsigned alpha = 0; alpha < 256; ++alpha)
        for (unsigned sample = 0; sample < 256; ++sample)
            table[alpha * 256 + sample] = rule(sample, alpha);
    return table;
}

void applyTable(const Table& table, uint8_t* rgba, std::size_t pixelCount)
{
    for (std::size_t i = 0; i < pixelCount; ++i, rgba += 4) {
        const uint8_t* row = table.data() + std::size_t{rgba[3]} * 256;
        rgba[0] = row[rgba[0]];
        rgba[1] = row[rgba[1]];
        rgba[2] = row[rgba[2]];
    }
}

} // namespace

void unpremultiplyRGBA(uint8_t* rgba, std::size_t pixelCount)
{
    static const Table table = buildTable(unpremultiplied);
    applyTable(table, rgba, pixelCount);
}

void passThroughPremultipliedRGBA(uint8_t* rgba, std::size_t pixelCount)
{
    static const Table table = buildTable(
        [](unsigned sample, unsigned alpha) { return unpremultiplied(premultiplied(sample, alpha), alpha); });
    applyTable(table, rgba, pixelCount);
}

bool writeInto(VipsImage* image, uint8_t* data, std::size_t size)
{
    const auto expected = static_cast<std::size_t>(image->Xsize) * static_cast<std::size_t>(image->Ysize)
        * static_cast<std::size_t>(image->Bands);
    if (image->BandFmt != VIPS_FORMAT_UCHAR || size != expected)
        return false;
    // libvips fills foreign memory without a copy of its own and never frees it.
    vips::Image target(
        vips_image_new_from_memory(data, size, image->Xsize, image->Ysize, image->Bands, VIPS_FORMAT_UCHAR));
    if (!target || vips_image_write(image, target.get()) != 0) {
        vips::takeError();
        return false;
    }
    return true;
}

} // namespace vantro::PackedPixels

// Before any Qt header: glib's headers use "signals" as a name, which Qt defines.
#include "Vips.h"

#include "WebPICCProfile.h"

#include "CompressionError.h"
#include "WebPMux.h"

#include <lcms2.h>

#include <array>
#include <cmath>
#include <memory>

namespace vantro::WebPICCProfile {

namespace {

// Owns the assembled output of a mux until it has been copied.
struct AssembledData {
    WebPData data;
    AssembledData() { WebPDataInit(&data); }
    ~AssembledData() { WebPDataClear(&data); }
    AssembledData(const AssembledData&) = delete;
    AssembledData& operator=(const AssembledData&) = delete;
};

QString muxStatusText(WebPMuxError status)
{
    return QStringLiteral("WebPMuxError(rawValue: %1)").arg(static_cast<int>(status));
}

using Profile = std::unique_ptr<void, decltype(&cmsCloseProfile)>;
using ToneCurve = std::unique_ptr<cmsToneCurve, decltype(&cmsFreeToneCurve)>;
using Text = std::unique_ptr<cmsMLU, decltype(&cmsMLUfree)>;

CompressionError noSRGBProfile()
{
    return CompressionError::encoderFailed(
        QStringLiteral("Could not obtain sRGB ICC profile data from libvips and lcms2"));
}

// The sRGB the decoder converts every image into: libvips' built-in profile.
Profile libvipsSRGBProfile()
{
    vips::ensureStarted();
    VipsBlob* raw = nullptr;
    if (vips_profile_load("srgb", &raw, nullptr) != 0 || !raw) {
        vips::takeError();
        throw noSRGBProfile();
    }
    const vips::Blob blob(raw);
    size_t length = 0;
    const void* bytes = vips_area_get_data(reinterpret_cast<VipsArea*>(blob.get()), &length, nullptr, nullptr, nullptr);
    Profile profile(cmsOpenProfileFromMem(bytes, static_cast<cmsUInt32Number>(length)), &cmsCloseProfile);
    if (!profile)
        throw noSRGBProfile();
    return profile;
}

// lcms2's own sRGB, written as a version 2 profile, which every reader takes.
// Version 2 has no parametric curves, so lcms2 would sample the tone curve at
// 4096 points (8 KB, more than a small image itself); 64 samples, shared by
// the three channels, keep every 8-bit level within a tenth of a level of
// libvips' 1024-point curve and the profile near 650 bytes.
//
// The pixels are in libvips' sRGB, whose colorants, rounded to the profile
// format, differ from those lcms2 computes by more than a level on saturated
// greens; so the colorants and white point are libvips'. They are read from
// libvips' own profile rather than written down here, so the profile keeps
// describing the pixels should libvips' sRGB change; the values are stored as
// they were read, so the same libvips gives the same bytes. libvips' profile
// has no chromatic adaptation tag: without lcms2's, readers derive the
// adaptation from that white point, as they do for libvips' profile.
QByteArray compactSRGBProfile()
{
    const Profile profile(cmsCreate_sRGBProfile(), &cmsCloseProfile);
    if (!profile)
        throw noSRGBProfile();
    const Profile pixels = libvipsSRGBProfile();
    for (const cmsTagSignature tag :
         {cmsSigRedColorantTag, cmsSigGreenColorantTag, cmsSigBlueColorantTag, cmsSigMediaWhitePointTag}) {
        const void* value = cmsReadTag(pixels.get(), tag);
        if (!value || !cmsWriteTag(profile.get(), tag, value))
            throw noSRGBProfile();
    }
    if (!cmsWriteTag(profile.get(), cmsSigChromaticAdaptationTag, nullptr))
        throw noSRGBProfile();
    const auto* exact = static_cast<const cmsToneCurve*>(cmsReadTag(profile.get(), cmsSigRedTRCTag));
    if (!exact)
        throw noSRGBProfile();
    constexpr int kSamples = 64;
    std::array<cmsUInt16Number, kSamples> samples{};
    for (int i = 0; i < kSamples; ++i) {
        const float level = cmsEvalToneCurveFloat(exact, static_cast<float>(i) / (kSamples - 1));
        samples[static_cast<size_t>(i)] = static_cast<cmsUInt16Number>(std::lround(level * 65535.0f));
    }
    const ToneCurve sampled(cmsBuildTabulatedToneCurve16(nullptr, kSamples, samples.data()), &cmsFreeToneCurve);
    const Text description(cmsMLUalloc(nullptr, 1), &cmsMLUfree);
    if (!sampled || !description || !cmsMLUsetASCII(description.get(), "en", "US", "sRGB")
        || !cmsWriteTag(profile.get(), cmsSigRedTRCTag, sampled.get())
        || !cmsLinkTag(profile.get(), cmsSigGreenTRCTag, cmsSigRedTRCTag)
        || !cmsLinkTag(profile.get(), cmsSigBlueTRCTag, cmsSigRedTRCTag)
        || !cmsWriteTag(profile.get(), cmsSigProfileDescriptionTag, description.get()))
        throw noSRGBProfile();
    cmsSetProfileVersion(profile.get(), 2.1);

    cmsUInt32Number length = 0;
    if (!cmsSaveProfileToMem(profile.get(), nullptr, &length) || length == 0)
        throw noSRGBProfile();
    QByteArray bytes(static_cast<qsizetype>(length), '\0');
    if (!cmsSaveProfileToMem(profile.get(), bytes.data(), &length))
        throw noSRGBProfile();
    // lcms2 stamps the header with the time of saving; a fixed date keeps
    // every conversion of the same image byte for byte the same. Not in
    // January: some readers take lcms2's month counted from 0 as counted from
    // 1, and fail on a month 0. Mid-month, the day exists in either reading.
    constexpr std::array<uint16_t, 6> kCreated{2025, 6, 15, 0, 0, 0};
    for (size_t i = 0; i < kCreated.size(); ++i) {
        bytes[static_cast<qsizetype>(24 + 2 * i)] = static_cast<char>(kCreated[i] >> 8);
        bytes[static_cast<qsizetype>(25 + 2 * i)] = static_cast<char>(kCreated[i] & 0xFF);
    }
    return bytes;
}

} // namespace

QByteArray sRGBICCProfileData()
{
    static const QByteArray profile = compactSRGBProfile();
    return profile;
}

QByteArray embedICCProfile(const QByteArray& webp, const QByteArray& iccProfile)
{
    const WebPData image = webpmux::dataOf(webp);
    const webpmux::Mux mux(WebPMuxCreate(&image, 1));
    if (!mux)
        throw CompressionError::encoderFailed(QStringLiteral("WebPMuxCreate failed while embedding ICC profile"));

    const WebPData chunk = webpmux::dataOf(iccProfile);
    const WebPMuxError setStatus = WebPMuxSetChunk(mux.get(), "ICCP", &chunk, 1);
    if (setStatus != WEBP_MUX_OK)
        throw CompressionError::encoderFailed(QStringLiteral("WebPMuxSetChunk(ICCP) failed with status ")
                                              + muxStatusText(setStatus));

    AssembledData output;
    const WebPMuxError assembleStatus = WebPMuxAssemble(mux.get(), &output.data);
    if (assembleStatus != WEBP_MUX_OK)
        throw CompressionError::encoderFailed(QStringLiteral("WebPMuxAssemble failed with status ")
                                              + muxStatusText(assembleStatus));
    if (!output.data.bytes || output.data.size == 0)
        throw CompressionError::encoderFailed(QStringLiteral("WebPMuxAssemble produced empty output"));
    return QByteArray(reinterpret_cast<const char*>(output.data.bytes), static_cast<qsizetype>(output.data.size));
}

std::optional<QByteArray> iccProfile(const QByteArray& webp)
{
    return webpmux::chunk(webp, "ICCP");
}

} // namespace vantro::WebPICCProfile

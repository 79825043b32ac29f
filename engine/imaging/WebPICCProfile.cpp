// Before any Qt header: glib's headers use "signals" as a name, which Qt defines.
#include "Vips.h"

#include "WebPICCProfile.h"

#include "CompressionError.h"
#include "WebPMux.h"

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

} // namespace

QByteArray sRGBICCProfileData()
{
    static const QByteArray profile = [] {
        vips::ensureStarted();
        VipsBlob* raw = nullptr;
        const int status = vips_profile_load("sRGB", &raw, nullptr);
        const vips::Blob blob(raw);
        size_t length = 0;
        const void* bytes = blob
            ? vips_area_get_data(reinterpret_cast<VipsArea*>(blob.get()), &length, nullptr, nullptr, nullptr)
            : nullptr;
        if (status != 0 || !bytes || length == 0) {
            vips::takeError();
            throw CompressionError::encoderFailed(
                QStringLiteral("Could not obtain sRGB ICC profile data from libvips"));
        }
        return QByteArray(static_cast<const char*>(bytes), static_cast<qsizetype>(length));
    }();
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

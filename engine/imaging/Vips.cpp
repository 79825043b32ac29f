#include "Vips.h"

#include <mutex>
#include <stdexcept>
#include <string>

namespace vantro::vips {

void ensureStarted()
{
    static std::once_flag once;
    std::call_once(once, [] {
        if (VIPS_INIT("vantro") != 0)
            throw std::runtime_error("libvips could not start: " + takeError());
        // The program writes no log: libvips' warnings about odd but readable
        // files (unknown EXIF units and the like) would only clutter stderr.
        g_log_set_handler(
            "VIPS", static_cast<GLogLevelFlags>(G_LOG_LEVEL_WARNING | G_LOG_LEVEL_MESSAGE | G_LOG_LEVEL_INFO),
            [](const gchar*, GLogLevelFlags, const gchar*, gpointer) {}, nullptr);
        vips_concurrency_set(1);
        vips_cache_set_max(0);
        vips_cache_set_max_mem(0);
        vips_cache_set_max_files(0);
    });
}

std::string takeError()
{
    std::string text = vips_error_buffer();
    vips_error_clear();
    while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
        text.pop_back();
    return text;
}

} // namespace vantro::vips

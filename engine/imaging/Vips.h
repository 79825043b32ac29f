#pragma once

#include <vips/vips.h>

#include <memory>
#include <string>

namespace vantro::vips {

// Starts libvips once per process. Its own thread pool is held to one thread
// and its operation cache is off: the job queue is our parallelism, and the
// cache would keep whole decoded images alive between jobs.
void ensureStarted();

struct ObjectUnref {
    void operator()(void* object) const
    {
        if (object)
            g_object_unref(object);
    }
};
using Image = std::unique_ptr<VipsImage, ObjectUnref>;

struct BlobUnref {
    void operator()(VipsBlob* blob) const
    {
        if (blob)
            vips_area_unref(reinterpret_cast<VipsArea*>(blob));
    }
};
using Blob = std::unique_ptr<VipsBlob, BlobUnref>;

struct GFree {
    void operator()(void* pointer) const { g_free(pointer); }
};

// Takes and clears libvips' error text. The buffer is shared by every thread,
// so the text is only fit for diagnostics, never for a user-facing message.
std::string takeError();

// Runs one libvips operation, `operation(&out)`, and takes ownership of its
// output image; throws `error` when it fails.
template <typename Operation, typename Error>
Image runOperation(Operation operation, const Error& error)
{
    VipsImage* out = nullptr;
    const int status = operation(&out);
    Image image(out);
    if (status != 0 || !image) {
        takeError();
        throw error;
    }
    return image;
}

} // namespace vantro::vips

#include "compress.h"

#include <limits.h>
#include <setjmp.h>
#include <stdint.h>
#include <stdio.h> /* jpeglib.h uses FILE without including it */
#include <stdlib.h>
#include <string.h>

/* The program also loads the system libjpeg (through libvips and Qt). Declaring
 * the library hidden makes every reference from here bind to the static
 * mozjpeg inside this binary, and the link fails instead of quietly binding to
 * a shared libjpeg. */
#pragma GCC visibility push(hidden)
#include <jerror.h>
#include <jpeglib.h>
#pragma GCC visibility pop

enum {
    ICC_MARKER = JPEG_APP0 + 2,
    ICC_HEADER_LENGTH = 14,
    ICC_CHUNK_MAX = 65519,
    ICC_MAX_CHUNKS = 255,
    FIRST_BUFFER_SIZE = 64 * 1024
};

struct shim_error {
    struct jpeg_error_mgr pub;
    jmp_buf jump;
};

/* A memory destination whose buffer has exactly one owner at any time: this
 * record until the encoding succeeds, the caller afterwards. The library's own
 * memory destination frees its first buffer when it grows, which leaves the
 * caller's pointer dangling after a late error. */
struct shim_destination {
    struct jpeg_destination_mgr pub;
    unsigned char* buffer;
    size_t capacity;
    size_t size;
};

/* Everything the long jump may leave half-changed lives in the caller's frame
 * of the function that calls setjmp, so its values stay defined afterwards. */
struct shim_state {
    struct jpeg_compress_struct cinfo;
    struct shim_error error;
    struct shim_destination destination;
    JOCTET marker[ICC_HEADER_LENGTH + ICC_CHUNK_MAX];
};

static void cjpegshim_error_exit(j_common_ptr cinfo)
{
    struct shim_error* error = (struct shim_error*)cinfo->err;
    longjmp(error->jump, 1);
}

static void init_destination(j_compress_ptr cinfo)
{
    struct shim_destination* destination = (struct shim_destination*)cinfo->dest;
    if (!destination->buffer) {
        destination->buffer = malloc(FIRST_BUFFER_SIZE);
        if (!destination->buffer)
            ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 0);
        destination->capacity = FIRST_BUFFER_SIZE;
    }
    destination->pub.next_output_byte = destination->buffer;
    destination->pub.free_in_buffer = destination->capacity;
}

/* Called when the buffer is full: the whole buffer is in use. */
static boolean empty_output_buffer(j_compress_ptr cinfo)
{
    struct shim_destination* destination = (struct shim_destination*)cinfo->dest;
    const size_t used = destination->capacity;
    if (used > SIZE_MAX / 2)
        ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 1);
    const size_t capacity = used * 2;
    unsigned char* grown = realloc(destination->buffer, capacity);
    if (!grown)
        ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 2); /* the old buffer is still ours */
    destination->buffer = grown;
    destination->capacity = capacity;
    destination->pub.next_output_byte = grown + used;
    destination->pub.free_in_buffer = capacity - used;
    return TRUE;
}

static void term_destination(j_compress_ptr cinfo)
{
    struct shim_destination* destination = (struct shim_destination*)cinfo->dest;
    destination->size = destination->capacity - destination->pub.free_in_buffer;
}

static void write_icc_markers(struct shim_state* state, const unsigned char* icc, size_t icc_len)
{
    const size_t chunks = (icc_len + ICC_CHUNK_MAX - 1) / ICC_CHUNK_MAX;
    size_t offset = 0;
    memcpy(state->marker, "ICC_PROFILE", 12); /* with its terminating zero */
    state->marker[13] = (JOCTET)chunks;
    for (size_t sequence = 1; sequence <= chunks; ++sequence) {
        const size_t length = icc_len - offset < ICC_CHUNK_MAX ? icc_len - offset : ICC_CHUNK_MAX;
        state->marker[12] = (JOCTET)sequence;
        memcpy(state->marker + ICC_HEADER_LENGTH, icc + offset, length);
        jpeg_write_marker(&state->cinfo, ICC_MARKER, state->marker, (unsigned int)(length + ICC_HEADER_LENGTH));
        offset += length;
    }
}

static int encode(struct shim_state* state, const unsigned char* rgb, int width, int height, int quality,
                  const unsigned char* icc, size_t icc_len)
{
    struct jpeg_compress_struct* cinfo = &state->cinfo;
    cinfo->err = jpeg_std_error(&state->error.pub);
    state->error.pub.error_exit = cjpegshim_error_exit;
    if (setjmp(state->error.jump))
        return 1;

    jpeg_create_compress(cinfo);
    state->destination.pub.init_destination = init_destination;
    state->destination.pub.empty_output_buffer = empty_output_buffer;
    state->destination.pub.term_destination = term_destination;
    cinfo->dest = &state->destination.pub;

    cinfo->image_width = (JDIMENSION)width;
    cinfo->image_height = (JDIMENSION)height;
    cinfo->input_components = 3;
    cinfo->in_color_space = JCS_RGB;
    jpeg_set_defaults(cinfo);
    jpeg_set_quality(cinfo, quality, TRUE);
    jpeg_start_compress(cinfo, TRUE);

    if (icc && icc_len > 0)
        write_icc_markers(state, icc, icc_len);

    const size_t row_stride = (size_t)width * 3;
    while (cinfo->next_scanline < cinfo->image_height) {
        /* The library takes rows as writable pointers but only reads them. */
        JSAMPROW row = (JSAMPROW)(uintptr_t)(rgb + (size_t)cinfo->next_scanline * row_stride);
        jpeg_write_scanlines(cinfo, &row, 1);
    }
    jpeg_finish_compress(cinfo);
    return 0;
}

__attribute__((visibility("default"))) int cjpegshim_compress_rgb(const unsigned char* rgb, int width, int height,
                                                                  int quality, const unsigned char* icc, size_t icc_len,
                                                                  unsigned char** out, unsigned long* out_size)
{
    if (!out || !out_size)
        return 1;
    *out = NULL;
    *out_size = 0;
    if (!rgb || width <= 0 || height <= 0)
        return 1;
    if (icc && icc_len > (size_t)ICC_MAX_CHUNKS * ICC_CHUNK_MAX)
        return 1; /* sequence number and count are single bytes */

    struct shim_state state;
    memset(&state, 0, sizeof state);
    int result = encode(&state, rgb, width, height, quality, icc, icc_len);
    jpeg_destroy_compress(&state.cinfo);

    if (result == 0 && state.destination.size <= ULONG_MAX) {
        *out = state.destination.buffer;
        *out_size = (unsigned long)state.destination.size;
    } else {
        free(state.destination.buffer);
        result = 1;
    }
    return result;
}

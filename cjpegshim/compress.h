#ifndef CJPEGSHIM_COMPRESS_H
#define CJPEGSHIM_COMPRESS_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/*
 * Encodes packed 8-bit RGB rows (stride width * 3, top row first) as a JPEG
 * with mozjpeg's default profile at the given quality. When icc is not null
 * and icc_len is positive the profile is embedded as APP2 "ICC_PROFILE"
 * markers of at most 65519 profile bytes each.
 *
 * Returns 0 on success, 1 when the library reported an error or the arguments
 * cannot be encoded (no pixels, a size below 1, a profile of more than 255
 * chunks). On success *out is a malloc'ed buffer of *out_size bytes that the
 * caller releases with free(); on failure *out is NULL and *out_size is 0.
 */
int cjpegshim_compress_rgb(const unsigned char* rgb, int width, int height, int quality, const unsigned char* icc,
                           size_t icc_len, unsigned char** out, unsigned long* out_size);

#ifdef __cplusplus
}
#endif

#endif

#!/bin/sh
# Fails when a binary exports a jpeg_* symbol: the program loads the system
# libjpeg through libvips and Qt, and an exported static mozjpeg would take
# over their calls (or theirs ours). Also fails when a binary that should carry
# the static mozjpeg does not (its local symbols are checked when not stripped).
status=0
for binary in "$@"; do
    if [ ! -f "$binary" ]; then
        echo "missing: $binary" >&2
        status=1
        continue
    fi
    exported=$(nm -D --defined-only "$binary" 2>/dev/null | awk '{ print $NF }' | grep -E '^(jpeg_|jinit_|jsimd_|jcopy_|jdiv_round_up|jround_up)' || true)
    if [ -n "$exported" ]; then
        echo "$binary exports libjpeg symbols:" >&2
        echo "$exported" >&2
        status=1
    fi
    if nm "$binary" >/dev/null 2>&1 && nm "$binary" | grep -q ' cjpegshim_compress_rgb$'; then
        if ! nm "$binary" | grep -qE ' t jpeg_CreateCompress$'; then
            echo "$binary carries the shim but not a hidden static jpeg_CreateCompress" >&2
            status=1
        fi
    fi
done
[ $status -eq 0 ] && echo "no libjpeg symbol exported by: $*"
exit $status

#!/usr/bin/env bash
# Installs the build into staging folders and runs the engine from there:
# the tools sit under libexec and are found from the program's own folder,
# with the build tree's copies out of sight; an install without them fails
# its lossless jobs; the launcher entry names the installed program by its
# absolute path and passes desktop-file-validate.
#
# Arguments: the build folder, the installed_engine program, cmake, then the
# install folders as configured: bin, the tools' folder, data, and the build
# tree's tools folder.
set -euo pipefail

build="$1" probe="$2" cmake="$3" bindir="$4" toolsdir="$5" datadir="$6" build_tools="$7"

work="$(mktemp -d)"
# Every install rewrites the build's install manifest; the user's own, from
# an install of theirs, comes back afterwards.
manifest="$build/install_manifest.txt"
if [[ -f "$manifest" ]]; then
    cp -p "$manifest" "$work/manifest"
    trap 'mv -f "$work/manifest" "$manifest"; rm -rf "$work"' EXIT
else
    trap 'rm -f "$manifest"; rm -rf "$work"' EXIT
fi
fail() { printf 'FAIL: %s\n' "$*" >&2; exit 1; }

under() { # the folder as configured, under a prefix
    case "$2" in /*) printf '%s' "$2" ;; *) printf '%s/%s' "$1" "$2" ;; esac
}

command -v desktop-file-validate >/dev/null || fail "desktop-file-validate is missing: run scripts/setup"

# A staged install for /usr, as a package build makes it.
stage="$work/stage"
DESTDIR="$stage" "$cmake" --install "$build" --prefix /usr >"$work/install.log" 2>&1 \
    || { cat "$work/install.log" >&2; fail "cmake --install into DESTDIR failed"; }
bin="$stage$(under /usr "$bindir")"
tools="$stage$(under /usr "$toolsdir")"
entry="$stage$(under /usr "$datadir")/applications/vantro.desktop"

[[ -x "$bin/vantro" ]] || fail "no program at $bin/vantro"
for tool in jpegtran oxipng; do
    [[ -x "$tools/$tool" ]] || fail "no $tool in $tools"
    [[ ! -e "$bin/$tool" ]] || fail "$tool installed as a command in $bin"
done
source_tree="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
for tree in "$build" "$source_tree"; do
    ! grep -a -q -F "$tree/" "$bin/vantro" || fail "$bin/vantro holds paths of $tree"
done
subfolders="$(find "$bin" -mindepth 1 -type d)"
[[ -z "$subfolders" ]] || fail "folders inside $bin: $subfolders"
exec_line="$(grep '^Exec=' "$entry")"
[[ "$exec_line" == "Exec=$(under /usr "$bindir")/vantro" ]] || fail "$entry has $exec_line"
desktop-file-validate "$entry" || fail "desktop-file-validate rejects $entry"

# Installed straight into a home folder whose path needs quoting: the entry
# still names the program, and the name the launcher unquotes is the file.
home_prefix="$work/home/Jan Novák 100%/.local"
"$cmake" --install "$build" --prefix "$home_prefix" >"$work/install-home.log" 2>&1 \
    || { cat "$work/install-home.log" >&2; fail "cmake --install --prefix '$home_prefix' failed"; }
home_entry="$(under "$home_prefix" "$datadir")/applications/vantro.desktop"
home_program="$(under "$home_prefix" "$bindir")/vantro"
exec_line="$(grep '^Exec=' "$home_entry")"
[[ "$exec_line" == "Exec=\"${home_program//%/%%}\"" ]] || fail "$home_entry has $exec_line"
[[ -x "$home_program" ]] || fail "no program at $home_program"
desktop-file-validate "$home_entry" || fail "desktop-file-validate rejects $home_entry"

# The engine run from the staged bin folder, on a JPEG and a PNG.
cp "$probe" "$bin/installed_engine"
mkdir -p "$work/images"
awk 'BEGIN { print "P3 64 48 255"; for (y = 0; y < 48; y++) for (x = 0; x < 64; x++) print x * 4, y * 5, (x * y) % 256 }' \
    >"$work/picture.ppm"
cjpeg -quality 95 -outfile "$work/images/photo.jpg" "$work/picture.ppm"
vips copy "$work/picture.ppm" "$work/images/graphic.png"

# The build tree's tools are hidden from this run only, by an empty folder
# mounted over them in a mount namespace of its own; tests running beside it
# keep them. Where no namespace can be made, the run below without installed
# tools still shows that no other copy is reached.
run_hidden() {
    local namespace=(unshare --mount)
    [[ "$(id -u)" -eq 0 ]] || namespace+=(--map-root-user)
    if "${namespace[@]}" true 2>/dev/null; then
        "${namespace[@]}" sh -c 'mount -t tmpfs none "$1" && shift && exec "$@"' sh "$build_tools" "$@"
    else
        echo "note: cannot make a mount namespace here; the build tree's tools stay in sight" >&2
        "$@"
    fi
}

if ! run_hidden "$bin/installed_engine" "$work/images/photo.jpg" "$work/images/graphic.png" >"$work/run.log" 2>&1; then
    cat "$work/run.log" >&2
    fail "the installed engine failed with its own tools"
fi
cat "$work/run.log"

# Without its tools, an install fails its lossless jobs with a clear error.
mv "$tools" "$work/tools-away"
if "$bin/installed_engine" "$work/images/photo.jpg" "$work/images/graphic.png" >"$work/missing.log" 2>&1; then
    cat "$work/missing.log" >&2
    fail "an install without its tools ran lossless jobs"
fi
cat "$work/missing.log"
grep -q "failed $work/images/photo.jpg: .*jpegtran binary not found in bundle" "$work/missing.log" \
    || fail "no clear error for the missing jpegtran"
grep -q "failed $work/images/graphic.png: .*oxipng binary not found in bundle" "$work/missing.log" \
    || fail "no clear error for the missing oxipng"
echo "install stands alone"

#!/usr/bin/env bash
# Compiles every source of the programs' folders syntax-only for Windows with
# Debian's MinGW-w64 cross compiler, against the Qt and Qwt headers, with the
# build's own -D flags and include folders (so that the AUTOUIC headers are
# found). Files whose names contain posix, unix or linux are the POSIX side of
# an interface, and those whose names contain avahi the side built on Avahi's
# client library: both are left out. Files whose names end in _windows (or
# _none, the stand-in where Avahi is missing) are checked though the Linux
# build does not compile them.
#
# A POSIX header or call anywhere else fails the check. MinGW-w64 has its own
# <unistd.h> and <pthread.h>, so those are replaced by headers that stop the
# compile, and the remaining POSIX headers do not exist there at all.
#
# Usage: tools/portability-check.sh BUILD_DIR [SOURCE_DIR]
# Prints one line per file and what was found; exits 1 when any file fails.
set -euo pipefail
build=$(cd "$1" && pwd)
top=$(cd "${2:-$(dirname "$0")/..}" && pwd)
cxx=x86_64-w64-mingw32-g++
command -v "$cxx" >/dev/null || { echo "portability check: $cxx not found (g++-mingw-w64-x86-64)" >&2; exit 2; }

# Folders whose sources every platform builds; new folders and files are picked
# up as they appear.
folders=(app link log chart ctl run ui console)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Stand-ins for POSIX headers that MinGW-w64 happens to provide.
mkdir -p "$work/posix/sys"
for header in unistd.h pthread.h sys/unistd.h sys/time.h sys/wait.h sys/socket.h sys/ioctl.h \
              sys/resource.h sys/mman.h sys/select.h sys/signalfd.h termios.h pty.h poll.h dlfcn.h; do
    printf '#error "POSIX header <%s> in a source built for every platform: move it to a _posix file"\n' \
        "$header" >"$work/posix/$header"
done

# The flags of the target that builds a file (found by its folder and name,
# so that a copy of the tree elsewhere is checked with the same flags), or for
# a file the Linux build does not compile, those of a target in its folder.
flags_for() {
    local src=$1 rel dir flags
    dir=$(basename "$(dirname "$src")")
    rel="/$dir/$(basename "$src")"
    flags=$(grep -lF -- "$rel" "$build/$dir"/CMakeFiles/*.dir/build.make 2>/dev/null | head -n 1 || true)
    if [ -z "$flags" ]; then
        flags=$(ls "$build/$dir"/CMakeFiles/*.dir/build.make 2>/dev/null | head -n 1 || true)
    fi
    [ -n "$flags" ] && echo "$(dirname "$flags")/flags.make"
}

check_one() {
    local src=$1 flags defines includes out status
    flags=$(flags_for "$src")
    if [ -z "$flags" ]; then
        echo "FAIL $src: no target of the build compiles this folder"
        return 1
    fi
    defines=$(sed -n 's/^CXX_DEFINES = //p' "$flags")
    # The Linux Qt configuration's mkspec gives way to the Windows one.
    includes=$(sed -n 's/^CXX_INCLUDES = //p' "$flags" | sed 's#mkspecs/linux-g++#mkspecs/win32-g++#g; s#-isystem #-I#g')
    status=0
    out=$(eval "$cxx" -fsyntax-only -std=c++17 -Wall -Wextra -Wpedantic \
        "$defines" -I"$work/posix" "$includes" "$src" 2>&1) || status=$?
    # Qt's and Qwt's headers come in as ordinary include folders, so that
    # every warning is seen. Qt's headers are configured for Linux, where
    # nothing is imported from a DLL, and MinGW warns about their friend
    # declarations' dllimport attributes: a warning of that one kind inside
    # Qt's headers, with its source lines and the "In file included from"
    # lines that lead to it, is the only noise dropped.
    local kept
    kept=$(printf '%s\n' "$out" | awk '
        /^In file included from|^ +from / { held = held $0 "\n"; next }
        /\/qt5\/Qt[A-Za-z]+\/[a-z0-9_]+\.h:[0-9]+:[0-9]+: warning: .* redeclared without dllimport attribute: previous dllimport ignored \[-Wattributes\]$/ {
            held = ""; skip = 1; next }
        /^ / && skip { next }
        { skip = 0; if (held != "") { printf "%s", held; held = "" } ; if ($0 != "") print }')
    if [ "$status" -ne 0 ] || [ -n "$kept" ]; then
        echo "FAIL ${src#$top/}"
        printf '%s\n' "$kept" | sed 's/^/    /'
        return 1
    fi
    echo "ok   ${src#$top/}"
}
export -f check_one flags_for
export build top cxx work

sources=()
for folder in "${folders[@]}"; do
    [ -d "$top/$folder" ] || continue
    while IFS= read -r -d '' src; do
        case "$(basename "$src")" in
            *posix* | *unix* | *linux* | *avahi*) continue ;;
        esac
        sources+=("$src")
    done < <(find "$top/$folder" -name '*.cpp' -print0 | sort -z)
done

# Two at a time, each file's report kept whole and printed in order.
mkdir -p "$work/reports"
for i in "${!sources[@]}"; do
    printf '%s\0%s\0' "${sources[$i]}" "$work/reports/$(printf '%04d' "$i")"
done | xargs -0 -n 2 -P 2 bash -c 'check_one "$0" >"$1"' || true
cat "$work"/reports/* >"$work/report"
cat "$work/report"
failed=$(grep -c '^FAIL' "$work/report" || true)
status=0
[ "$failed" -eq 0 ] || status=1
echo "portability check: ${#sources[@]} sources for Windows, $failed failed"
exit $status

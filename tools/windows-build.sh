#!/usr/bin/env bash
# Cross-builds velkaro.exe and velkaroctl.exe for 64-bit Windows on Debian 12
# and lays out a folder that runs on Windows as it is, plus a zip of it.
#
# Qt for MinGW is not among Debian's packages, so Qt (qtbase, qtserialport)
# and Qwt are built here from Debian's own source packages with Debian's
# MinGW-w64 compilers, once, into a cache folder that later runs reuse:
#
#   ${VELKARO_WINDOWS_CACHE:-${XDG_CACHE_HOME:-~/.cache}/velkaro-windows}
#
# Each stage leaves a stamp there and is skipped when its stamp exists, so a
# run that was stopped goes on where it stopped. Only installing Debian
# packages needs root (through sudo for a user, see ensure-packages.sh); the
# source packages are fetched with a private apt configuration inside the
# cache, so the machine's own apt sources are left as they are.
#
# Usage: tools/windows-build.sh [--tests] [--qt-only] [--qtserialport-src DIR|TARBALL]
#   --tests    also builds the tests that run on Windows (build-windows/tests)
#   --qt-only  stops once Qt and Qwt are in the cache
#   --qtserialport-src  Qt Serial Port 5.15's source as a folder or a tarball
#              (also $VELKARO_QTSERIALPORT_SRC), used instead of Debian's
#              source package, for a mirror that does not serve that one:
#                git -C <clone of qt/qtserialport> archive --prefix=qtserialport/ \
#                    -o qtserialport-5.15.8.tar.gz v5.15.8-lts-lgpl
# Output: build-windows/ (the CMake build), build-windows/velkaro-windows/
# (the folder to copy to Windows) and build-windows/velkaro-windows.zip.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
source "$top/tools/ensure-packages.sh"

with_tests=OFF
qt_only=0
serialport_src=${VELKARO_QTSERIALPORT_SRC:-}
usage="usage: $0 [--tests] [--qt-only] [--qtserialport-src DIR|TARBALL]"
while [ $# -gt 0 ]; do
    case "$1" in
        --tests) with_tests=ON ;;
        --qt-only) qt_only=1 ;;
        --qtserialport-src) [ $# -ge 2 ] || { echo "$usage" >&2; exit 2; }; serialport_src=$2; shift ;;
        --qtserialport-src=*) serialport_src=${1#*=} ;;
        *) echo "$usage" >&2; exit 2 ;;
    esac
    shift
done
if [ -n "$serialport_src" ]; then
    [ -e "$serialport_src" ] || { echo "no Qt Serial Port source at $serialport_src" >&2; exit 2; }
    serialport_src=$(realpath "$serialport_src")
fi

ensure_packages "${BUILD_PACKAGES[@]}" "${WINDOWS_BUILD_PACKAGES[@]}"

# Started with sudo (not needed, see ensure-packages.sh): build as the user,
# who owns the working tree, into the user's cache.
if [ "$(id -u)" -eq 0 ] && [ -n "${SUDO_USER:-}" ] && [ "$SUDO_USER" != root ]; then
    exec sudo -u "$SUDO_USER" "$0" "$@"
fi

cache=${VELKARO_WINDOWS_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/velkaro-windows}
host=x86_64-w64-mingw32
# The win32-threads runtime needs no winpthread DLL beside the programs;
# Qt 5.15 brings its own threads on Windows and builds with it.
threads=${VELKARO_WINDOWS_THREADS:-win32}
qt=$cache/qt-$threads
jobs=${VELKARO_WINDOWS_JOBS:-$(nproc)}
mkdir -p "$cache/stamps"
stamp() { echo "$cache/stamps/$1-$threads"; }
log() { printf '[%(%H:%M:%S)T] %s\n' -1 "$*"; }

# The compilers of the chosen threads variant under the plain names that Qt's
# win32-g++ mkspec and CMake's toolchain file call, first on the PATH.
toolbin=$cache/toolchain-$threads/bin
mkdir -p "$toolbin"
for tool in gcc g++ c++ cpp gcc-ar gcc-nm gcc-ranlib; do
    ln -sfn "/usr/bin/$host-$tool-$threads" "$toolbin/$host-$tool"
done
export PATH=$toolbin:$PATH

# Long compiles yield to everything else on the machine.
low=(nice -n 19)
command -v ionice >/dev/null && low+=(ionice -c 3)

# ---- Debian's source packages, through a private apt configuration --------
fetch_sources() {
    [ -e "$cache/stamps/sources" ] && return 0
    log "fetching Debian's source packages of qtbase, qtserialport and qwt"
    local apt=$cache/apt
    mkdir -p "$apt/lists/partial" "$apt/archives/partial" "$apt/sources.list.d" "$cache/src"
    : >"$apt/sources.list"
    # The machine's own Debian entries, each as a deb-src entry too.
    local found=0 file
    for file in /etc/apt/sources.list.d/*.sources; do
        [ -e "$file" ] || continue
        sed -e 's/^Types:.*/Types: deb-src/' "$file" >"$apt/sources.list.d/$(basename "$file")"
        found=1
    done
    if [ -e /etc/apt/sources.list ]; then
        sed -n 's/^deb \(.*\)/deb-src \1/p' /etc/apt/sources.list >"$apt/sources.list"
        [ -s "$apt/sources.list" ] && found=1
    fi
    [ "$found" -eq 1 ] || { echo "no Debian apt sources found in /etc/apt" >&2; exit 1; }
    local opts=(-o "Dir::Etc::SourceList=$apt/sources.list" -o "Dir::Etc::SourceParts=$apt/sources.list.d"
                -o "Dir::State::Lists=$apt/lists" -o "Dir::Cache=$apt" -o "Dir::State::status=/var/lib/dpkg/status"
                -o "APT::Sandbox::User=$(id -un)" -o "Debug::NoLocking=1")
    apt-get -qq "${opts[@]}" update
    local package missing=()
    local packages=(qtbase-opensource-src qwt)
    [ -n "$serialport_src" ] || packages+=(qtserialport-opensource-src)
    for package in "${packages[@]}"; do
        [ -n "$(source_dir "$package")" ] && continue
        (cd "$cache/src" && apt-get -qq "${opts[@]}" source "$package") || missing+=("$package")
    done
    if [ ${#missing[@]} -gt 0 ]; then
        echo "apt-get source could not fetch: ${missing[*]} (see above); run again to retry" >&2
        return 1
    fi
    touch "$cache/stamps/sources"
}
source_dir() { find "$cache/src" -maxdepth 1 -mindepth 1 -type d -name "$1-*" | sort | tail -n 1; }
# Qt Serial Port's tree, in the cache: the one the user named (a folder is
# copied and a tarball unpacked, once, so that the headers made below never
# land in the user's own folder), else Debian's source package.
serialport_source() {
    if [ -z "$serialport_src" ]; then
        source_dir qtserialport-opensource-src
        return
    fi
    local dir=$cache/src/qtserialport-given
    if [ ! -e "$dir/.unpacked" ] || [ "$serialport_src" -nt "$dir/.unpacked" ]; then
        rm -rf "$dir" && mkdir -p "$dir"
        if [ -d "$serialport_src" ]; then
            cp -a "$serialport_src/." "$dir/" || return 1
        else
            tar -xf "$serialport_src" -C "$dir" --strip-components=1 >&2 || return 1
        fi
        touch "$dir/.unpacked"
    fi
    echo "$dir"
}

# ---- qtbase: Core, Gui, Widgets, Network, Test, the windows platform plugin -
build_qtbase() {
    [ -e "$(stamp qtbase)" ] && return 0
    local src build
    src=$(source_dir qtbase-opensource-src)
    build=$cache/build-$threads/qtbase
    log "building qtbase from $src (log: $build/build.log)"
    # Two changes to Debian's qtbase for MinGW (tools/windows-qt.patch): Qt
    # Test's watchdog wants std::mutex, which the win32-threads libstdc++
    # lacks, and Qt's own QMutex-based stand-in (kept for INTEGRITY) serves;
    # Debian leaves out the WinTab header, and the windows platform plugin is
    # built without WinTab tablets then.
    if ! patch -d "$src" -p1 -R -s --dry-run <"$top/tools/windows-qt.patch" >/dev/null 2>&1; then
        patch -d "$src" -p1 -s <"$top/tools/windows-qt.patch" || exit 1
    fi
    mkdir -p "$build"
    if [ ! -e "$build/.configured" ]; then
        # The cross build makes its own host tools (qmake, moc, rcc, uic)
        # from the same sources, as Qt 5's configure requires.
        (cd "$build" && "${low[@]}" "$src/configure" -prefix "$qt" \
            -xplatform win32-g++ -device-option CROSS_COMPILE=$host- \
            -opensource -confirm-license -release -shared -strip \
            -nomake examples -nomake tests \
            -no-opengl -no-dbus -no-icu -no-openssl -no-fontconfig -no-sql-sqlite -no-sql-odbc \
            -no-feature-sql -qt-zlib -qt-libpng -qt-libjpeg -qt-pcre \
            -platform linux-g++ >"$build/configure.log" 2>&1) ||
            { tail -n 40 "$build/configure.log" >&2; exit 1; }
        touch "$build/.configured"
    fi
    (cd "$build" && "${low[@]}" make -j"$jobs" >>"$build/build.log" 2>&1 &&
        "${low[@]}" make install >>"$build/build.log" 2>&1) ||
        { tail -n 40 "$build/build.log" >&2; exit 1; }
    touch "$(stamp qtbase)"
}

# ---- qtserialport, with the cross Qt's qmake --------------------------------
build_qtserialport() {
    [ -e "$(stamp qtserialport)" ] && return 0
    local src build version file
    src=$(serialport_source)
    if [ -z "$src" ]; then
        echo "no source of Qt Serial Port: Debian's source package qtserialport-opensource-src" \
             "could not be fetched (see above); name its source with --qtserialport-src" \
             "(see the usage at the top of $0)" >&2
        exit 1
    fi
    build=$cache/build-$threads/qtserialport
    log "building qtserialport from $src"
    # A release tarball carries the module's forwarding headers (include/);
    # a tree taken from the repository (git archive) does not, and without a
    # .git folder qmake neither makes them nor installs the public headers.
    # Qt's own syncqt makes them, as the release tarballs were made.
    if [ ! -d "$src/include/QtSerialPort" ]; then
        version=$(sed -n 's/^MODULE_VERSION *= *//p' "$src/.qmake.conf")
        [ -n "$version" ] || { echo "$src/.qmake.conf names no MODULE_VERSION" >&2; exit 1; }
        perl "$qt/bin/syncqt.pl" -version "$version" -outdir "$src" "$src" >/dev/null ||
            { echo "syncqt failed on $src" >&2; exit 1; }
    fi
    rm -rf "$build"
    mkdir -p "$build"
    (cd "$build" && "${low[@]}" "$qt/bin/qmake" "$src" >"$build/build.log" 2>&1 &&
        "${low[@]}" make -j"$jobs" >>"$build/build.log" 2>&1 &&
        "${low[@]}" make install >>"$build/build.log" 2>&1) ||
        { tail -n 40 "$build/build.log" >&2; exit 1; }
    for file in include/QtSerialPort/QSerialPort bin/Qt5SerialPort.dll lib/cmake/Qt5SerialPort/Qt5SerialPortConfig.cmake; do
        [ -e "$qt/$file" ] || { echo "qtserialport installed no $qt/$file (log: $build/build.log)" >&2; exit 1; }
    done
    touch "$(stamp qtserialport)"
}

# ---- Qwt: the plot library only (no designer plugin, SVG or OpenGL) ---------
build_qwt() {
    [ -e "$(stamp qwt)" ] && return 0
    local src build
    src=$(source_dir qwt)
    build=$cache/build-$threads/qwt
    log "building qwt from $src"
    rm -rf "$build"
    cp -a "$src" "$build"
    # Qwt is configured by its qwtconfig.pri. Debian's copy carries Debian's
    # own compiler flags and turns on the designer plugin, SVG, OpenGL and
    # MathML; this one asks for the plot library alone, as a DLL.
    {
        echo 'QWT_VER_MAJ = 6'
        echo 'QWT_VER_MIN = 1'
        echo 'QWT_VER_PAT = 4'
        echo 'QWT_VERSION = 6.1.4'
        echo "QWT_INSTALL_PREFIX = $qt"
        for place in DOCS:doc/qwt HEADERS:include/qwt LIBS:lib PLUGINS:plugins/designer FEATURES:features; do
            echo "QWT_INSTALL_${place%%:*} = $qt/${place#*:}"
        done
        echo 'QWT_CONFIG += QwtDll QwtPlot QwtWidgets'
    } >"$build/qwtconfig.pri"
    # Qwt builds a debug and a release library on Windows; this Qt has its
    # release libraries only.
    sed -i -e 's/CONFIG *+= *debug_and_release/CONFIG += release/' -e 's/CONFIG *+= *build_all//' \
        "$build/qwtbuild.pri"
    (cd "$build" && "${low[@]}" "$qt/bin/qmake" qwt.pro >"$build/build.log" 2>&1 &&
        "${low[@]}" make -j"$jobs" >>"$build/build.log" 2>&1 &&
        "${low[@]}" make install >>"$build/build.log" 2>&1) ||
        { tail -n 40 "$build/build.log" >&2; exit 1; }
    touch "$(stamp qwt)"
}

# ---- the programs, with the project's own CMake ------------------------------
configure_project() {
    # lrelease runs on this machine: Debian's own, as the Linux build uses.
    # moc, rcc and uic are the ones the cross build of qtbase made for it.
    cmake -S "$top" -B "$out" -DCMAKE_TOOLCHAIN_FILE="$top/tools/windows-toolchain.cmake" \
        -DVELKARO_WINDOWS_QT="$qt" -DCMAKE_BUILD_TYPE=Release -DPANEL_TESTS="$with_tests" \
        -DQt5LinguistTools_DIR=/usr/lib/x86_64-linux-gnu/cmake/Qt5LinguistTools \
        >"$out/configure.log" 2>&1 ||
        { tail -n 40 "$out/configure.log" >&2; exit 1; }
}

# The DLLs an executable or DLL imports, found among Qt's, Qwt's and the
# MinGW runtime's; system DLLs are on every Windows and are left out.
dll_folders() {
    echo "$qt/bin" "$qt/lib" "$(dirname "$("$host-gcc" -print-libgcc-file-name)")" "/usr/$host/lib"
}
imports() { "$host-objdump" -p "$1" | sed -n 's/^\s*DLL Name: //p'; }
copy_imports() {
    local file=$1 dest=$2 dll folder
    for dll in $(imports "$file"); do
        [ -e "$dest/$dll" ] && continue
        for folder in $(dll_folders); do
            if [ -e "$folder/$dll" ]; then
                cp "$folder/$dll" "$dest/"
                copy_imports "$dest/$dll" "$dest"
                break
            fi
        done
    done
}

deploy() {
    local folder=$out/velkaro-windows
    log "laying out $folder"
    rm -rf "$folder" "$out/velkaro-windows.zip"
    mkdir -p "$folder/platforms" "$folder/styles" "$folder/translations"
    cp "$out/app/velkaro.exe" "$out/ctl/velkaroctl.exe" "$folder/"
    cp "$qt/plugins/platforms/qwindows.dll" "$folder/platforms/"
    cp "$qt/plugins/styles/qwindowsvistastyle.dll" "$folder/styles/"
    local file
    for file in "$folder"/*.exe "$folder"/platforms/*.dll "$folder"/styles/*.dll; do
        copy_imports "$file" "$folder"
    done
    # Qt's own texts in Russian (its dialogs' buttons); the window's texts
    # are embedded in it.
    if [ -e /usr/share/qt5/translations/qtbase_ru.qm ]; then
        cp /usr/share/qt5/translations/qtbase_ru.qm "$folder/translations/"
    fi
    # Debian's MinGW runtime DLLs carry their symbols (libstdc++-6.dll is
    # 23.7 MB with them, 2.0 MB without).
    "$host-strip" --strip-unneeded "$folder"/*.exe "$folder"/*.dll "$folder"/*/*.dll
    (cd "$out" && zip -qr velkaro-windows.zip velkaro-windows)
    log "$folder: $(du -sh "$folder" | cut -f1), $(basename "$folder").zip: $(du -h "$out/velkaro-windows.zip" | cut -f1)"
}

started=$(date +%s)
fetch_sources || true
[ -n "$(source_dir qtbase-opensource-src)" ] || exit 1
build_qtbase
build_qtserialport
build_qwt
log "Qt and Qwt for Windows are in $qt ($(du -sh "$cache" | cut -f1) in $cache)"
[ "$qt_only" -eq 1 ] && exit 0

out=$top/build-windows
mkdir -p "$out"
configure_project
log "building velkaro.exe and velkaroctl.exe in $out"
targets=(velkaro velkaroctl)
[ "$with_tests" = ON ] && targets=(all)
"${low[@]}" cmake --build "$out" -j"$jobs" --target "${targets[@]}" >"$out/build.log" 2>&1 ||
    { tail -n 40 "$out/build.log" >&2; exit 1; }
deploy
log "done in $(( $(date +%s) - started )) s"

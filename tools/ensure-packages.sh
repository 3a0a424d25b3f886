# Sourced by the run and test scripts: makes sure the Debian packages named in
# $PACKAGES are installed. Only installing needs root: as root it installs
# what is missing itself, as a user through sudo (which asks for the
# password); with neither it prints the one apt-get line that is needed and
# stops. So the scripts are started the same way by a user and by root.
ensure_packages() {
    local missing=()
    local package
    for package in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed"; then
            missing+=("$package")
        fi
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    local as_root=()
    if [ "$(id -u)" -ne 0 ]; then
        if ! command -v sudo >/dev/null; then
            echo "Missing packages. As root, install them with:"
            echo "  apt-get install -y ${missing[*]}"
            exit 1
        fi
        as_root=(sudo)
    fi
    echo "Installing ${missing[*]}"
    "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq &&
        "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive \
            apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# Qt Linguist tools compile the English translation of the window; Qt's own
# Russian texts (its dialogs and standard buttons) come from qttranslations5-l10n;
# serve-scpi advertises the instruments through Avahi's client library
# (found with pkg-config).
BUILD_PACKAGES=(cmake make g++ pkgconf qtbase5-dev qtbase5-dev-tools libqt5serialport5-dev libqwt-qt5-dev
    qttools5-dev qttools5-dev-tools qttranslations5-l10n libavahi-client-dev)
# The fuzzers need clang and its libFuzzer and sanitizer runtimes.
FUZZ_PACKAGES=(clang libclang-rt-14-dev)
# The SCPI server's proof drives it with PyVISA and PyMeasure from Debian's
# Python, and a half-closing client with OpenBSD netcat (nc -N); the
# portability check compiles the sources for Windows with MinGW-w64;
# velkaroctl run's progress line is checked on a terminal that script(1)
# provides; the VXI-11 proof uses lxi-tools (lxi discover, lxi scpi), rpcbind
# (rpcinfo, and a system portmapper in the test's own namespaces) and
# iproute2 (the namespace's veth pair); the DNS-SD proof runs a D-Bus system
# bus and an Avahi daemon of its own in its namespaces and browses with
# avahi-browse.
TEST_PACKAGES=(python3 python3-pyvisa python3-pyvisa-py python3-pymeasure netcat-openbsd
    g++-mingw-w64-x86-64 bsdutils lxi-tools rpcbind iproute2 dbus-daemon avahi-daemon avahi-utils)
# The Windows build cross-compiles Qt and Qwt from Debian's source packages
# (dpkg-dev unpacks them) with MinGW-w64 and zips the deployable folder.
WINDOWS_BUILD_PACKAGES=(g++-mingw-w64-x86-64-win32 g++-mingw-w64-x86-64-posix mingw-w64-tools dpkg-dev
    perl python3 zip)
# The Windows check runs the programs under Wine on a virtual display, clicks
# the window's connect button and photographs it.
WINDOWS_CHECK_PACKAGES=(wine64 xvfb xauth imagemagick xdotool netcat-openbsd python3 python3-pyvisa
    python3-pyvisa-py)

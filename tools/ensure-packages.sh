# Sourced by the run and test scripts: makes sure the Debian packages named in
# $PACKAGES are installed. As root it installs what is missing; otherwise it
# prints the one apt-get line that is needed and stops.
ensure_packages() {
    local missing=()
    local package
    for package in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed"; then
            missing+=("$package")
        fi
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    if [ "$(id -u)" -eq 0 ]; then
        echo "Installing ${missing[*]}"
        export DEBIAN_FRONTEND=noninteractive
        apt-get update -qq && apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
        return $?
    fi
    echo "Missing packages. Install them with:"
    echo "  sudo apt-get install -y ${missing[*]}"
    exit 1
}

BUILD_PACKAGES=(cmake make g++ qtbase5-dev qtbase5-dev-tools libqt5serialport5-dev libqwt-qt5-dev)
# The fuzzers need clang and its libFuzzer and sanitizer runtimes.
FUZZ_PACKAGES=(clang libclang-rt-14-dev)
# The SCPI server's proof drives it with PyVISA from Debian's Python.
# velkaroctl run's progress line is checked on a terminal that script(1) provides.
TEST_PACKAGES=(python3 python3-pyvisa python3-pyvisa-py bsdutils)

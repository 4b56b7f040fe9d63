# Sourced by play.sh and test.sh: makes sure the Debian packages are there,
# then configures and builds one preset. Leaves VX_BIN pointing at the binaries.

# tshark for the dissector tests (its question about capturing as non-root
# takes the default under DEBIAN_FRONTEND=noninteractive); file for CPack's
# dependency scan of the Debian package; help2man for the man pages.
VX_PACKAGES="build-essential cmake ninja-build pkg-config clang-format-14 libgtest-dev libsdl1.2-dev libgl1-mesa-dev \
libglu1-mesa-dev libgl1-mesa-dri xvfb xauth libx11-dev libxtst-dev libpng-dev \
tshark file help2man gcc-arm-none-eabi libnewlib-arm-none-eabi desmume gdb-multiarch"

vx_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# melonDS, the emulator the online device tests run, is no Debian package: it
# is used from the shared tools folder beside the project when that is
# there, and its runtime packages come with it.
VX_MELONDS_DIR="$vx_root/../shared/tools/melonds"
if [ -f "$VX_MELONDS_DIR/packages.txt" ]; then
    VX_PACKAGES="$VX_PACKAGES $(grep -v '^ *#' "$VX_MELONDS_DIR/packages.txt" | tr '\n' ' ')"
fi

vx_install_packages() {
    local missing=()
    local p
    for p in $VX_PACKAGES; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    if [ "$(id -u)" -ne 0 ]; then
        echo "Missing Debian packages. Install them with:" >&2
        echo "  sudo apt-get install -y ${missing[*]}" >&2
        return 1
    fi
    echo "Installing: ${missing[*]}"
    # An older package list may not know the packages yet; refresh once then.
    if ! DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${missing[@]}"; then
        apt-get update -q && DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${missing[@]}" || {
            echo "apt-get could not install: ${missing[*]}" >&2
            return 1
        }
    fi
}

# vx_build PRESET [TARGET...]: configure and build (everything, or just the
# targets named); sets VX_BIN.
vx_build() {
    local preset=$1
    shift
    local targets=()
    [ $# -gt 0 ] && targets=(--target "$@")
    # A build folder made with another generator (the default preset moved
    # from make to Ninja) is configured afresh; what it built is rebuilt.
    local fresh=()
    local cache="$vx_root/build/$preset/CMakeCache.txt"
    if [ -f "$cache" ] && [ "$preset" = default ] && ! grep -qx 'CMAKE_GENERATOR:INTERNAL=Ninja' "$cache"; then
        fresh=(--fresh)
    fi
    cmake --preset "$preset" -S "$vx_root" "${fresh[@]}" >/dev/null || { echo "cmake configure failed" >&2; return 1; }
    cmake --build --preset "$preset" -j "$(nproc)" "${targets[@]}" || { echo "build failed" >&2; return 1; }
    VX_BIN="$vx_root/build/$preset/bin"
}

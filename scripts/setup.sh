#!/usr/bin/env bash
# Shared set-up of the scripts: installs the Debian packages that are missing,
# then configures and builds the project into build/ (or $TEMBRA_BUILD_DIR)
# with Qt 6 where it is installed, or the toolkit that $TEMBRA_QT names (5, 6);
# with TEMBRA_QT=5 the build goes to build-qt5/.
# Quiet when everything is already in place; a failing build prints its log.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
if [ "${TEMBRA_QT:-}" = 5 ]; then
    BUILD_DIR="${TEMBRA_BUILD_DIR:-$ROOT/build-qt5}"
else
    BUILD_DIR="${TEMBRA_BUILD_DIR:-$ROOT/build}"
fi
QT5_PACKAGES=(qtbase5-dev libqt5serialport5-dev qttools5-dev qttools5-dev-tools)
QT6_PACKAGES=(qt6-base-dev qt6-serialport-dev qt6-tools-dev qt6-l10n-tools)
case "${TEMBRA_QT:-}" in
    5) QT_PACKAGES=("${QT5_PACKAGES[@]}") ;;
    both) QT_PACKAGES=("${QT6_PACKAGES[@]}" "${QT5_PACKAGES[@]}") ;;
    *) QT_PACKAGES=("${QT6_PACKAGES[@]}") ;;
esac
PACKAGES=(cmake g++ make pkg-config "${QT_PACKAGES[@]}" libcpp-httplib-dev
          fonts-liberation ${TEMBRA_EXTRA_PACKAGES:-})

ensure_packages() {
    local missing=()
    for package in "$@"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" \
            || missing+=("$package")
    done
    ((${#missing[@]})) || return 0
    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    echo "Installing Debian packages: ${missing[*]}"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
        "${missing[@]}" >/dev/null
}

# Builds into the given folder (default $BUILD_DIR) with the given toolkit
# (5, 6, or empty for Qt 6 where installed).
build_project() {
    local dir="${1:-$BUILD_DIR}" qt="${2:-}"
    [ "$qt" = both ] && qt=""
    local log="$dir/build.log"
    local werror=OFF
    [ -n "${CI:-}" ] && werror=ON
    mkdir -p "$dir"
    if ! { cmake -S "$ROOT" -B "$dir" -DCMAKE_BUILD_TYPE=Release -DTEMBRA_WERROR="$werror" \
               -DCMAKE_INSTALL_PREFIX=/usr -DTEMBRA_QT="$qt" \
           && cmake --build "$dir" -j"$(nproc)"; } >"$log" 2>&1; then
        tail -n 60 "$log"
        echo "Build failed; the whole log is in $log" >&2
        exit 1
    fi
}

# The Debian package of the tool, from the build above, into the build folder.
build_package() {
    local log="$BUILD_DIR/package.log"
    rm -f "$BUILD_DIR"/tembra-update-tool_*.deb
    if ! (cd "$BUILD_DIR" && cpack -G DEB) >"$log" 2>&1; then
        tail -n 30 "$log"
        echo "Packaging failed; the whole log is in $log" >&2
        exit 1
    fi
}

ensure_packages "${PACKAGES[@]}"
build_project "$BUILD_DIR" "${TEMBRA_QT:-}"

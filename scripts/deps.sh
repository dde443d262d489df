# SPDX-License-Identifier: GPL-2.0-or-later
# Sourced by scripts/run and scripts/test: installs the Debian packages that are missing.
NUK_PACKAGES="build-essential cmake pkg-config qt6-base-dev qt6-svg-dev libgl-dev libpcap-dev tcpdump tshark \
libcap2-bin clang libclang-rt-14-dev fonts-liberation iproute2 python3 lintian man-db"

nuk_install_deps() {
    local missing=()
    for p in $NUK_PACKAGES; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing missing packages: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    export DEBIAN_FRONTEND=noninteractive
    $sudo apt-get update -q
    $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
}

# Shared by scripts/run and scripts/test. Sourced, not run.

tv_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)

tv_log() { printf '%s\n' "$*" >&2; }

# Installs the Debian packages of scripts/packages.txt that are missing.
tv_ensure_packages() {
    local missing=() pkg
    while read -r pkg; do
        [[ -z "$pkg" || "$pkg" == \#* ]] && continue
        if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
            missing+=("$pkg")
        fi
    done < "$tv_root/scripts/packages.txt"
    [[ ${#missing[@]} -eq 0 ]] && return 0
    tv_log "Installing: ${missing[*]}"
    local sudo=()
    [[ $(id -u) -ne 0 ]] && sudo=(sudo)
    "${sudo[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# tv_build DIR [extra cmake args...]: configure, build and install into DIR/prefix,
# the folder the program loads the control library from.
tv_build() {
    local dir=$1; shift
    # A compiler cache, where one is installed, makes the second of two build
    # folders (plain and sanitized, or two clones) cost little.
    local launcher=()
    command -v ccache >/dev/null && launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
    cmake -S "$tv_root" -B "$dir" -G Ninja -DCMAKE_INSTALL_PREFIX="$dir/prefix" "${launcher[@]}" "$@" >/dev/null
    cmake --build "$dir" -j "$(nproc)"
    cmake --install "$dir" >/dev/null
}

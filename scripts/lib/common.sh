# Shared by scripts/run and scripts/test. Sourced, not run.

tv_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)

tv_log() { printf '%s\n' "$*" >&2; }

# Qt 5.15 unless a script was given --qt6 (tv_take_qt_option): Debian 12's
# desktop still runs on Qt 5, and Qt 6 builds go to folders of their own.
tv_qt=5
tv_take_qt_option() { if [[ ${1:-} == --qt6 ]]; then tv_qt=6; fi; }
# The folder of a build: build, build-run, ... and build-qt6, build-run-qt6, ...
tv_build_dir() { if [[ $tv_qt == 6 ]]; then echo "$tv_root/$1-qt6"; else echo "$tv_root/$1"; fi; }

# Installs the Debian packages of scripts/packages.txt that are missing
# (with --qt6, scripts/packages-qt6.txt's too). A user who is not root gets
# them through sudo where sudo lets them without a question; otherwise the
# script stops with the one command that installs them.
tv_ensure_packages() {
    local missing=() pkg list
    local lists=("$tv_root/scripts/packages.txt")
    [[ $tv_qt == 6 ]] && lists+=("$tv_root/scripts/packages-qt6.txt")
    for list in "${lists[@]}"; do
        while read -r pkg; do
            [[ -z "$pkg" || "$pkg" == \#* ]] && continue
            if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
                missing+=("$pkg")
            fi
        done < "$list"
    done
    [[ ${#missing[@]} -eq 0 ]] && return 0
    local sudo=()
    if [[ $(id -u) -ne 0 ]]; then
        if command -v sudo >/dev/null && sudo -n true 2>/dev/null; then
            sudo=(sudo)
        else
            tv_log "Missing Debian packages. Install them as root, then run this again:"
            tv_log "    apt-get install --no-install-recommends ${missing[*]}"
            exit 1
        fi
    fi
    tv_log "Installing: ${missing[*]}"
    "${sudo[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# tv_build DIR [cmake args...] [-- target...]: configure and build everything,
# or only the targets named after --. The build tree runs as it stands: the
# program finds the control library from its own folder. The prefix keeps a
# hand-run cmake --install inside DIR.
tv_build() {
    local dir=$1; shift
    local args=() targets=()
    while [[ $# -gt 0 && $1 != -- ]]; do args+=("$1"); shift; done
    [[ $# -gt 0 ]] && { shift; targets=(--target "$@"); }
    # A compiler cache, where one is installed, makes the second of two build
    # folders (plain and sanitized, or two clones) cost little.
    # Paths are taken relative to the clone, so that another clone of the
    # same sources hits the cache too.
    if command -v ccache >/dev/null; then
        args+=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
        export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$tv_root} CCACHE_NOHASHDIR=${CCACHE_NOHASHDIR:-1}
    fi
    # Two runs started at once share the folder: one builds, the other waits.
    mkdir -p "$dir"
    local lock
    exec {lock}>"$dir/.build.lock"
    flock "$lock"
    cmake -S "$tv_root" -B "$dir" -G Ninja -DCMAKE_INSTALL_PREFIX="$dir/prefix" -DTARVELL_QT_MAJOR="$tv_qt" \
        "${args[@]}" >/dev/null
    cmake --build "$dir" -j "$(nproc)" "${targets[@]}"
    exec {lock}>&-
}

# The targets a run of the program needs: the program, its tool, the
# simulated card, the stand-in control library and the files beside them.
tv_program_targets=(tarvell-vorn tarvell-i2c tarvell-card-sim ControlLib tv_driver_package tv_packaging_files)

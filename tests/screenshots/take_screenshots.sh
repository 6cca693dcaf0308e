#!/usr/bin/env bash
# Starts the real program on a virtual X server with Mesa's software OpenGL and
# saves pictures of its window: the dark and light themes with the simulated
# card, and the no-device screen without it. The window is brought up the way a
# user would: a second start of the program asks the running one for it.
#
# usage: take_screenshots.sh BIN_DIR OUT_DIR CTL_LIBDIR
# Exit codes: 0 pictures taken and checked, 1 failure, 77 skipped (the
# simulated card or the installed control library is missing).
set -uo pipefail

bin=$1
out=$2
ctl_libdir=$3
app=$bin/tarvell-vorn
sim=$bin/tarvell-card-sim

say() { printf 'screenshots: %s\n' "$*" >&2; }
fail() { say "FAIL: $*"; exit 1; }

for tool in Xvfb xdotool import convert compare; do
    command -v "$tool" >/dev/null || fail "$tool is not installed"
done
[[ -x $app ]] || fail "no program at $app"

mkdir -p "$out" || fail "cannot create $out"
work=$(mktemp -d)
pids=()
cleanup() {
    local pid
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
    for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null; done
    rm -rf "$work"
}
trap cleanup EXIT

# A user of our own: nothing of the real user's is read or written.
export HOME=$work/home
export XDG_DATA_HOME=$HOME/.local/share
export XDG_CONFIG_HOME=$HOME/.config
export XDG_CACHE_HOME=$HOME/.cache
export XDG_RUNTIME_DIR=$work/runtime
mkdir -p "$XDG_DATA_HOME" "$XDG_CONFIG_HOME" "$XDG_CACHE_HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
settings_dir=$XDG_DATA_HOME/tarvell-vorn

exec 5>"$work/display"
Xvfb -displayfd 5 -screen 0 1600x900x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do [[ -s $work/display ]] && break; sleep 0.1; done
[[ -s $work/display ]] || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
export DISPLAY=:$(head -n1 "$work/display")
export LIBGL_ALWAYS_SOFTWARE=1
unset QT_QPA_PLATFORM QT_QUICK_BACKEND

# wait_for SECONDS COMMAND...: true once the command succeeds, tried every
# tenth of a second; the bound only ends a run that would never succeed.
wait_for() {
    local tries=$(($1 * 10)); shift
    for _ in $(seq "$tries"); do "$@" && return 0; sleep 0.1; done
    return 1
}
visible_window() {
    window_id=$(xdotool search --onlyvisible --name '^TARVELL VORN$' 2>/dev/null | head -n1)
    [[ -n $window_id ]]
}
# The window is drawn (not one flat colour) and has settled: two pictures a
# moment apart differ in fewer than 1 % of their pixels, so the loading ring
# is gone and only a changing reading or two may differ.
settled() {
    import -window "$window_id" "$work/a.bmp" 2>/dev/null || return 1
    sleep 0.3
    import -window "$window_id" "$work/b.bmp" 2>/dev/null || return 1
    local spread pixels changed
    spread=$(convert "$work/b.bmp" -colorspace Gray -format '%[fx:standard_deviation]' info:)
    pixels=$(convert "$work/b.bmp" -format '%[fx:w*h]' info:)
    changed=$(differing "$work/a.bmp" "$work/b.bmp")
    awk -v s="$spread" -v p="$pixels" -v c="$changed" 'BEGIN { exit !(s > 0.02 && c < p / 100) }'
}

# start_program NAME: runs the program, asks for its window with a second start
# and waits until the window is on screen and drawn. Sets app_pid and window_id.
start_program() {
    local name=$1 log=$out/screenshot-$name.log
    "$app" >"$log" 2>&1 &
    app_pid=$!
    pids+=("$app_pid")
    # Once the worker runs, the program holds the single-instance key, so the
    # next start hands over instead of becoming a first instance itself.
    wait_for 120 grep -q "worker thread started" "$log" \
        || fail "the program did not start its worker, see $log"
    kill -0 "$app_pid" 2>/dev/null || fail "the program ended early, see $log"
    # Its exit status is not ours to judge here (a sanitized build may report
    # the toolkit's leftovers); the window appearing is what counts.
    "$app" >>"$log" 2>&1
    wait_for 120 visible_window || fail "no window titled TARVELL VORN appeared"
    wait_for 120 settled || fail "the window never settled into a drawn picture"
}

stop_program() {
    kill "$app_pid" 2>/dev/null
    wait "$app_pid" 2>/dev/null
}

shoot() {
    local name=$1
    import -window "$window_id" "$out/screenshot-$name.png" || fail "import failed for $name"
    say "saved $out/screenshot-$name.png"
}

mean() { convert "$1" -colorspace Gray -format '%[fx:mean]' info:; }
width() { convert "$1" -format '%w' info:; }
# Number of pixels that differ clearly between two pictures. ImageMagick
# writes a count of a million or more as 1.1664e+06; shell arithmetic takes
# only whole numbers.
differing() { compare -metric AE -fuzz 10% "$1" "$2" null: 2>&1 | awk '{ printf "%d\n", $1 }'; }

# ---- no card: the stand-in control library finds nothing in an empty tree --
mkdir -p "$work/empty-sysfs"
export CTL_SYSFS_ROOT=$work/empty-sysfs
start_program no-device
shoot no-device
stop_program

if [[ ! -x $sim ]]; then
    say "SKIP: no simulated card at $sim; only the no-device screen was taken"
    exit 77
fi
if [[ ! -e $ctl_libdir/libControlLib.so ]]; then
    say "SKIP: no control library in $ctl_libdir (build the ControlLib target)"
    exit 77
fi

# ---- the simulated card -----------------------------------------------------
"$sim" --sysfs "$work/sysfs" --log "$work/transfers.log" >"$work/sim.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do grep -q serving "$work/sim.log" 2>/dev/null && break; sleep 0.1; done
grep -q serving "$work/sim.log" || fail "the simulated card did not start: $(cat "$work/sim.log")"
for _ in $(seq 50); do [[ -d $work/sysfs ]] && break; sleep 0.1; done
[[ -d $work/sysfs ]] || fail "the simulated card published no sysfs tree in $work/sysfs"
export CTL_SYSFS_ROOT=$work/sysfs

rm -rf "$settings_dir"
start_program dark
shoot dark
stop_program

# The same user with the light theme chosen.
mkdir -p "$settings_dir"
cat >"$settings_dir/userData.json" <<'JSON'
[
    {
        "ARGBSliderSpeed": 5,
        "FanControlMode": "GPU",
        "RGB": "ON",
        "RGBControlMode": "MCU",
        "argb_effect": 5,
        "b_hex": "00",
        "displayMode": 1,
        "fanControlBtn": 0,
        "fanSpeed": 100,
        "g_hex": "00",
        "r_hex": "fb",
        "serverVersion": null,
        "speed": "FE"
    }
]
JSON
start_program light
shoot light
stop_program

# ---- what the pictures must show ---------------------------------------------
for name in no-device dark light; do
    w=$(width "$out/screenshot-$name.png")
    (( w >= 1340 )) || fail "$name: the picture is $w pixels wide, not the window"
done
dark_mean=$(mean "$out/screenshot-dark.png")
light_mean=$(mean "$out/screenshot-light.png")
say "mean brightness: dark $dark_mean, light $light_mean"
awk -v d="$dark_mean" -v l="$light_mean" 'BEGIN { exit !(l > d + 0.2) }' \
    || fail "the light theme is not clearly lighter than the dark one"
changed=$(differing "$out/screenshot-no-device.png" "$out/screenshot-dark.png")
say "pixels differing between no-device and dark: $changed"
(( changed > 20000 )) || fail "the card's pages look like the no-device screen"
exit 0

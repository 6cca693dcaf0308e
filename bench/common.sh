# Shared by bench/idle and bench/latency: a virtual X server, program
# instances each with their own home, runtime folder and simulated card.
work=$(mktemp -d)
pids=()
declare -A program_pid program_env
cleanup()
{
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[$i]}" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# "qt5" or "qt6": the toolkit a build folder was configured for.
qt_of() { echo "qt$(sed -n 's/^TARVELL_QT_MAJOR:[A-Z]*=//p' "$1/CMakeCache.txt")"; }

need_packages()
{
    local missing=()
    for p in "$@"; do
        local pkg=${p%%:*} tool=${p#*:}
        if [[ $p == *:* ]]; then command -v "$tool" >/dev/null || missing+=("$pkg")
        else dpkg -s "$pkg" >/dev/null 2>&1 || missing+=("$pkg"); fi
    done
    if ((${#missing[@]})); then
        echo "installing ${missing[*]}"
        apt-get install -y --no-install-recommends "${missing[@]}" >/dev/null
    fi
}

start_x()
{
    exec 5>"$work/display"
    Xvfb -displayfd 5 -screen 0 1600x900x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
    pids+=($!)
    for _ in $(seq 50); do [[ -s $work/display ]] && break; sleep 0.1; done
    export DISPLAY=":$(cat "$work/display")"
    echo "X display $DISPLAY"
}

# "tid name run-ns" for every thread, sorted for join.
thread_ns()
{
    local t
    for t in /proc/"$1"/task/*; do
        echo "${t##*/} $(tr ' ' _ <"$t/comm") $(awk '{ print $1 }' "$t/schedstat")"
    done | sort
}

# start_program NAME [extra card-sim options...]
# A file $work/NAME.settings, when there is one, is the program's userData.json.
# PROGRAM_BUILD=DIR starts the program of another build folder (a Qt 6 one, say).
start_program()
{
    local name=$1; shift
    local d=$work/$name b=${PROGRAM_BUILD:-$build}
    mkdir -p "$d/home" "$d/run" "$d/tmp"
    chmod 700 "$d/run"
    if [[ -f $work/$name.settings ]]; then
        mkdir -p "$d/home/data/tarvell-vorn"
        cp "$work/$name.settings" "$d/home/data/tarvell-vorn/userData.json"
    fi
    "${CARD_SIM:-$b/bin/tarvell-card-sim}" --runtime-dir "$d/run" --sysfs "$d/run/sysfs" \
        --log "$d/transfers.log" "$@" >"$d/sim.log" 2>&1 &
    pids+=($!)
    for _ in $(seq 50); do grep -q serving "$d/sim.log" && break; sleep 0.1; done
    program_env[$name]="HOME=$d/home XDG_RUNTIME_DIR=$d/run TMPDIR=$d/tmp XDG_DATA_HOME=$d/home/data XDG_CONFIG_HOME=$d/home/config CTL_SYSFS_ROOT=$d/run/sysfs DBUS_SYSTEM_BUS_ADDRESS=unix:path=$d/no-system-bus"
    env ${program_env[$name]} "$b/bin/tarvell-vorn" >"$d/program.log" 2>&1 &
    program_pid[$name]=$!
    pids+=($!)
    # Past the start-up restore: the first reply 100 plus 5 s.
    for _ in $(seq 100); do grep -q "worker thread started" "$d/program.log" && break; sleep 0.1; done
    sleep 6.5
}

# The program's visible window, if any.
program_window()
{
    local w
    for w in $(xdotool search --onlyvisible --name '^TARVELL VORN$' 2>/dev/null); do
        [[ $(xdotool getwindowpid "$w" 2>/dev/null) == "${program_pid[$1]}" ]] && { echo "$w"; return; }
    done
}

# Asks the running program for its window the way a second start does: it
# writes "1" into the show-window marker. Timed from that write.
show_window()
{
    local t0 t1 w=
    t0=$(date +%s%N)
    printf 1 >"$work/$1/home/data/tarvell-vorn/tarvell.txt"
    for _ in $(seq 300); do w=$(program_window "$1"); [[ -n $w ]] && break; sleep 0.01; done
    t1=$(date +%s%N)
    [[ -n $w ]] || { echo "program $1: no window" >&2; exit 1; }
    echo "program $1 shown after $(((t1 - t0) / 1000000)) ms"
    sleep 1.5
}

# Without a window manager a close is now and then not taken; it is sent
# again then.
close_window()
{
    [[ -x $work/close_window ]] || cc -O2 -o "$work/close_window" "$here/close_window.c" -lxcb
    local w
    for _ in 1 2 3 4 5; do
        w=$(program_window "$1")
        [[ -z $w ]] && return
        "$work/close_window" "$w"
        for _ in $(seq 20); do [[ -z $(program_window "$1") ]] && return; sleep 0.05; done
    done
    echo "program $1: window did not hide" >&2; exit 1
}

# Window-relative point of a page label (row 0 Monitor, 1 ARGB, 2 Setting).
click_label()
{
    local w h top
    w=$(program_window "$1")
    eval "$(xdotool getwindowgeometry --shell "$w")"
    top=$(((HEIGHT - 230) / 2))
    local ys=(25 115 205)
    xdotool mousemove --window "$w" 120 $((top + ys[$2])) click 1
    sleep 1
}
click_monitor_label() { click_label "$1" 0; }

# Shared pieces of the scripts that run the program under Wine: stopping with a reason, private
# Xvfb displays, the Wine loaders and prefixes. Sourced, never run:
#   . "$(dirname "$0")/lib.sh"      (scripts/)      . "$root/scripts/lib.sh"      (elsewhere)
# Every function either does its job or stops the script through die with what went wrong.

# The loaders, called directly: Debian's plain `wine` starts the 32-bit loader first, which runs
# only under an emulator on some machines.
VORLUX_WINE64=/usr/lib/wine/wine64
VORLUX_WINE32=/usr/lib/wine/wine
VORLUX_WINESERVER=/usr/lib/wine/wineserver64
# Where 32-bit programs run under qemu-i386 (scripts/enable-i386.sh), the emulator reserves the
# whole 32-bit address space up front; otherwise its own mappings can take the place where Wine maps
# the shared user data (0x7ffe0000), every 32-bit process fails to start (c0000018) and a prefix
# boots without its 32-bit half. Ignored where the kernel runs 32-bit code itself.
export QEMU_RESERVED_VA=${QEMU_RESERVED_VA:-0xffff0000}

die() {
    echo "${VORLUX_SCRIPT:-$(basename "$0")}: $*" >&2
    exit 1
}

# The Wine loader for a target: i686 or x86_64.
vorlux_wine() {
    case "$1" in
        i686) echo "$VORLUX_WINE32" ;;
        x86_64) echo "$VORLUX_WINE64" ;;
        *) die "unknown target '$1' (i686 or x86_64)" ;;
    esac
}

# Starts a private Xvfb of the given depth (8, 16 or 24) at 1024x768 and sets VORLUX_XVFB to its
# display (":N"). The server picks a free number itself (-displayfd), so parallel runs never
# meet. Its pid joins VORLUX_XVFB_PIDS; vorlux_stop_xvfbs stops them all.
VORLUX_XVFB_PIDS=()
vorlux_start_xvfb() {
    local depth=$1 fifo number pid
    command -v Xvfb >/dev/null || die "Xvfb is not installed (scripts/setup.sh installs it)"
    fifo=$(mktemp -u "${TMPDIR:-/tmp}/vorlux-xvfb.XXXXXX")
    mkfifo "$fifo" || die "cannot make $fifo"
    Xvfb -displayfd 3 -screen 0 "1024x768x$depth" -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
    pid=$!
    number=$(timeout 20 head -n1 "$fifo" || true)
    rm -f "$fifo"
    [ -n "$number" ] || { kill "$pid" 2>/dev/null; die "Xvfb at depth $depth did not start"; }
    VORLUX_XVFB_PIDS+=("$pid")
    VORLUX_XVFB=":$number"
}

vorlux_stop_xvfbs() {
    local pid
    for pid in "${VORLUX_XVFB_PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
    VORLUX_XVFB_PIDS=()
}

# Boots the Wine prefix WINEPREFIX (made if missing) and leaves a server running in it that
# lasts until `vorlux_stop_prefix` (Wine ignores WINESERVER and starts servers through Debian's
# wrapper without persistence, so each program would boot the prefix again). The server starts
# after the prefix's directory exists and before anything else runs there; the boot's background
# services are given no terminal or pipe of ours, or a test runner reading them would wait for
# ever. With a $DISPLAY the first boot would show Mono's installer prompt and wait: the boot runs
# without Mono and Gecko. The log of the boot lands in WINEPREFIX.boot.log.
vorlux_boot_prefix() {
    : "${WINEPREFIX:?vorlux_boot_prefix needs WINEPREFIX}"
    local log=$WINEPREFIX.boot.log
    mkdir -p "$WINEPREFIX" || die "cannot make the Wine prefix $WINEPREFIX"
    (export WINEDLLOVERRIDES='mscoree,mshtml='
     "$VORLUX_WINESERVER" -p && "$VORLUX_WINE64" wineboot -i) </dev/null >"$log" 2>&1 \
        || { tail -20 "$log" >&2; die "booting the Wine prefix $WINEPREFIX failed (see $log)"; }
    # The server writes the registry every 30 s and when it ends: a boot quicker than that has
    # none on disk yet, so end the server once (it saves) and start it again.
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        vorlux_stop_prefix
        "$VORLUX_WINESERVER" -p </dev/null >>"$log" 2>&1 || die "cannot restart the Wine server of $WINEPREFIX"
    fi
    [ -f "$WINEPREFIX/system.reg" ] || die "the Wine prefix $WINEPREFIX has no registry after its boot (see $log)"
}

# Ends every process of the prefix WINEPREFIX and waits for its server to save the registry.
vorlux_stop_prefix() {
    [ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX" ] || return 0
    "$VORLUX_WINESERVER" -k 2>/dev/null || true
    timeout 60 "$VORLUX_WINESERVER" -w 2>/dev/null || true
}

# Copies a booted prefix (cheaper than a boot: one takes minutes when its 32-bit half runs under
# an emulator). No server may run in the source while it is copied.
vorlux_copy_prefix() {  # from to
    [ -f "$1/system.reg" ] || die "no booted Wine prefix in $1 to copy"
    rm -rf "$2" || die "cannot remove the old prefix $2"
    cp -a "$1" "$2" || die "cannot copy the Wine prefix $1 to $2"
}

# Waits for a visible window whose name matches the pattern; prints its id.
vorlux_wait_window() {  # pattern seconds
    local id="" _
    for _ in $(seq "$2"); do
        id=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -1 || true)
        [ -n "$id" ] && { echo "$id"; return 0; }
        sleep 1
    done
    return 1
}

# Waits until a file exists and is not empty.
vorlux_wait_file() {  # path seconds
    local _
    for _ in $(seq "$2"); do [ -s "$1" ] && return 0; sleep 1; done
    return 1
}

# Waits until no visible window's name matches the pattern.
vorlux_wait_gone() {  # pattern seconds
    local _
    for _ in $(seq "$2"); do
        [ -z "$(xdotool search --onlyvisible --name "$1" 2>/dev/null || true)" ] && return 0
        sleep 1
    done
    return 1
}

# Gives a window the X input focus (Wine delivers hot keys only then).
vorlux_focus() {  # window
    # --sync waits for the focus to move, forever when the window went away meanwhile.
    timeout 10 xdotool windowfocus --sync "$1" 2>/dev/null || xdotool windowfocus "$1" 2>/dev/null || true
    sleep 0.3
}

# Presses a key on a window that has been given the focus.
vorlux_key() {  # window key
    vorlux_focus "$1"
    xdotool key "$2"
}

# A small tmpfs at a directory (made if missing), for a disk that fills; needs root.
vorlux_mount_tmpfs() {  # directory size
    mkdir -p "$1" || die "cannot make $1"
    mount -t tmpfs -o "size=$2" tmpfs "$1" || die "cannot mount a tmpfs of $2 at $1 (needs root)"
    VORLUX_MOUNTS+=("$1")
}

vorlux_unmount() {  # directory
    if mountpoint -q "$1" 2>/dev/null; then umount "$1" 2>/dev/null || umount -l "$1" || true; fi
}

# Makes a directory drive LETTER: of the prefix WINEPREFIX.
vorlux_map_drive() {  # letter directory
    : "${WINEPREFIX:?vorlux_map_drive needs WINEPREFIX}"
    ln -sfn "$2" "$WINEPREFIX/dosdevices/${1,,}:" || die "cannot map drive $1: to $2"
}

# Whole-program runs: a work directory holding a clean prefix and a copy of the program, on a
# private Xvfb of the depth VORLUX_DEPTH picks (24 without it), so that runs side by side never
# take each other's focus or keys. Sets VORLUX_WORK, VORLUX_PROG (the program's directory),
# VORLUX_RUN (the loader), WINEPREFIX and DISPLAY, and makes vorlux_program_cleanup the script's
# EXIT trap.
vorlux_program_setup() {  # target path/vorlux.exe
    local target=$1 exe=$2
    trap vorlux_program_cleanup EXIT
    [ -f "$exe" ] || die "no program at $exe"
    vorlux_start_xvfb "${VORLUX_DEPTH:-24}"
    export DISPLAY=$VORLUX_XVFB
    VORLUX_RUN=$(vorlux_wine "$target")
    VORLUX_WORK=$(mktemp -d "${TMPDIR:-/tmp}/vorlux-program.XXXXXX") || die "cannot make a work directory"
    export WINEPREFIX=$VORLUX_WORK/prefix WINEDEBUG=-all
    # A copy of a freshly booted prefix (scripts/test.sh makes one) is as clean and saves a boot.
    if [ -n "${VORLUX_CLEAN_PREFIX:-}" ] && [ -f "$VORLUX_CLEAN_PREFIX/system.reg" ]; then
        vorlux_copy_prefix "$VORLUX_CLEAN_PREFIX" "$WINEPREFIX"
    fi
    vorlux_boot_prefix
    VORLUX_PROG=$VORLUX_WORK/prog
    mkdir -p "$VORLUX_PROG" || die "cannot make $VORLUX_PROG"
    cp "$exe" "$VORLUX_PROG/vorlux.exe" || die "cannot copy $exe"
}

# Processes a whole-program run starts beside the program (VORLUX_PIDS+=($!)) and the tmpfs
# drives it mounts end with it.
VORLUX_PIDS=()
VORLUX_MOUNTS=()

# The EXIT trap of a whole-program run.
vorlux_program_cleanup() {
    local pid dir
    for pid in "${VORLUX_PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
    vorlux_stop_prefix
    vorlux_stop_xvfbs
    for dir in "${VORLUX_MOUNTS[@]}"; do vorlux_unmount "$dir"; done
    [ -n "${VORLUX_WORK:-}" ] && rm -rf "$VORLUX_WORK"
    return 0
}

# Ends a whole-program run as failed, naming the windows on the screen: a message box nobody
# expected says why.
vorlux_fail() {
    local w
    for w in $(xdotool search --onlyvisible --name . 2>/dev/null); do
        echo "  window on the screen: '$(xdotool getwindowname "$w" 2>/dev/null)'" >&2
    done
    die "FAIL: $*"
}

VORLUX_STORE='HKLM\SOFTWARE\Quorvane\Vorlux\3.02'

# A value of the program's settings in the prefix's registry, as `reg query` prints its data.
vorlux_reg_value() {  # subkey value
    "$VORLUX_WINE64" reg query "$VORLUX_STORE\\$1" /v "$2" 2>/dev/null \
        | tr -d '\r' | awk -v v="$2" '$1 == v { $1 = ""; $2 = ""; sub(/^ +/, ""); print }'
}

# Sets a value of the program's settings, as a user with regedit could.
vorlux_reg_set() {  # subkey value type data
    "$VORLUX_WINE64" reg add "$VORLUX_STORE\\$1" /v "$2" /t "$3" /d "$4" /f >/dev/null 2>&1 \
        || die "reg add $1\\$2 failed"
}

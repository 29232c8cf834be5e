# Shared set-up of the black-box tests: where the programs are, and the assertion library.
# shellcheck disable=SC2034 # BIN, TOOLS and ROOT are for the bats files that load this one
bats_require_minimum_version 1.5.0
load '/usr/lib/bats/bats-support/load'
load '/usr/lib/bats/bats-assert/load'

BIN=${SYSZOO_BIN:?SYSZOO_BIN must name the folder of the built programs}
TOOLS=${SYSZOO_TOOLS:-}
ROOT=${SYSZOO_ROOT:-}

# The open-file flags (octal) of descriptor $1 as this shell holds it.
fd_flags() {
    awk '/^flags:/ { print $2 }' "/proc/self/fdinfo/$1"
}

# True when octal open-file flags $1 include O_NONBLOCK (04000).
is_nonblocking() {
    (( 8#$1 & 8#4000 ))
}

# Run a command with its standard output on file $1, or closed when $1 is "-". For use under
# `run`, whose own capture would otherwise take the place of the redirection.
with_stdout() {
    local target=$1
    shift
    if [ "$target" = - ]; then
        "$@" >&-
    else
        "$@" > "$target"
    fi
}

# Wait up to $2 seconds (default 10) for command $1 to succeed, checking every 20 ms.
wait_until() {
    local cond=$1 limit=${2:-10} tries
    for (( tries = limit * 50; tries > 0; tries-- )); do
        eval "$cond" && return 0
        sleep 0.02
    done
    echo "gave up waiting for: $cond" >&2
    return 1
}

# Stop process $1 if it still runs, and reap it when it is this shell's child.
stop_pid() {
    [ -n "${1:-}" ] || return 0
    kill "$1" 2> /dev/null || true
    wait "$1" 2> /dev/null || true
}

# PIDs of live processes whose environment holds SYSZOO_MARK=$1: what a command started with
# that mark left running.
marked_processes() {
    local env
    for env in /proc/[0-9]*/environ; do
        if tr '\0' '\n' 2> /dev/null < "$env" | grep -qx "SYSZOO_MARK=$1"; then
            env=${env#/proc/}
            echo "${env%/environ}"
        fi
    done
}

# True when the tour left nothing behind: no process with mark $1, nothing on port 5678, no
# message queue 0x12345 and no working folder.
tour_left_nothing() {
    [ -z "$(marked_processes "$1")" ] || { echo "processes left: $(marked_processes "$1")"; return 1; }
    ! ss -ltn | grep -q '127.0.0.1:5678 ' || { echo "port 5678 still busy"; return 1; }
    ! ipcs -q | grep -q '^0x00012345 ' || { echo "queue 0x12345 left"; return 1; }
    [ -z "$(find "$ROOT/build" -maxdepth 1 -name 'tour.*' -newer "$BATS_TEST_TMPDIR" 2> /dev/null)" ] ||
        { echo "working folder left"; return 1; }
}

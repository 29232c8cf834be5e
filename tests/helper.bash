# Shared set-up of the black-box tests: where the programs are, and the assertion library.
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

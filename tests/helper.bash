# Shared set-up of the black-box tests: where the programs are, and the assertion library.
# shellcheck disable=SC2034 # BIN, TOOLS and ROOT are for the bats files that load this one
bats_require_minimum_version 1.5.0
load '/usr/lib/bats/bats-support/load'
load '/usr/lib/bats/bats-assert/load'

# script and gdb run their command with $SHELL, which may be unset (then sh), a shell without
# ulimit (csh) or no shell at all (nologin): the commands the tests give them are bash's.
export SHELL=$BASH

BIN=${SYSZOO_BIN:?SYSZOO_BIN must name the folder of the built programs}
TOOLS=${SYSZOO_TOOLS:-}
# The checkout: given, or the one these tests are in; never empty, as paths are made from it.
ROOT=${SYSZOO_ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}
ROOT=${ROOT:?}
# What the build made (see cmake/build-info.cmake): the tests take names and counts from here.
BUILD_INFO=${SYSZOO_BUILD_INFO:-$BIN/../build-info}

# The names of the programs the build made, one a line, in the tour's order; with $1, those of
# that field's value in column 3 (a folder).
built_programs() {
    awk -F '\t' -v folder="${1:-}" '$1 == "program" && (folder == "" || $3 == folder) { print $2 }' "$BUILD_INFO"
}

# Field $2 of program $1's record in the build-info file: 3 its folder, 4 its source, 5 its machine.
program_field() {
    awk -F '\t' -v name="$1" -v field="$2" '$1 == "program" && $2 == name { print $field }' "$BUILD_INFO"
}

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

# Run command $2... with descriptor $1 (0, 1 or 2) closed.
with_closed() {
    local fd=$1
    shift
    case $fd in
        0) "$@" <&- ;;
        1) "$@" >&- ;;
        2) "$@" 2>&- ;;
        *) echo "with_closed: no standard descriptor $fd" >&2; return 2 ;;
    esac
}

# Run command $@ with its standard output on /dev/full, then closed: each time it must report
# the lost output, and nothing else, on standard error and exit with status 1.
assert_reports_lost_output() {
    run --separate-stderr with_stdout /dev/full "$@"
    assert_failure 1
    # shellcheck disable=SC2154 # run --separate-stderr sets it
    [ "$stderr" = "output error: No space left on device" ]
    run --separate-stderr with_stdout - "$@"
    assert_failure 1
    [ "$stderr" = "output error: Bad file descriptor" ]
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

# True when process $1 exists and has not ended (a zombie has ended, though kill -0 finds it).
is_running() {
    local stat
    read -r stat 2> /dev/null < "/proc/$1/stat" || return 1
    stat=${stat##*) }
    [ "${stat%% *}" != Z ]
}

# Wait up to $2 seconds (default 10) for background process $1 of this shell to end, and return
# its status. One that runs longer is killed, and the status is 124.
wait_bounded() {
    if ! wait_until "! is_running $1" "${2:-10}"; then
        kill -KILL "$1" 2> /dev/null
        wait "$1" 2> /dev/null
        return 124
    fi
    wait "$1"
}

# Stop process $1 if it still runs, and reap it when it is this shell's child.
stop_pid() {
    [ -n "${1:-}" ] || return 0
    kill "$1" 2> /dev/null || true
    wait "$1" 2> /dev/null || true
}

# PIDs of live processes whose environment holds SYSZOO_MARK=$1: what a command started with
# that mark left running. One grep over every environment, so a check takes milliseconds.
marked_processes() {
    local file
    # shellcheck disable=SC2013 # file names of /proc, one a line, without spaces
    for file in $(grep -lsxzF "SYSZOO_MARK=$1" /proc/[0-9]*/environ); do
        file=${file#/proc/}
        [ "${file%/environ}" != "$BASHPID" ] && echo "${file%/environ}"
    done
}

# A mktemp in $BATS_TEST_TMPDIR/slow (put it first on PATH) that, when asked for a $1 (folder,
# with -d, or file), touches $BATS_TEST_TMPDIR/making and takes 3 s to end: a stop sent once that
# exists comes while the caller waits for mktemp. It makes what it is asked for at once, or, with
# $2 "fails", makes nothing and fails as mktemp does.
slow_mktemp() {
    local real
    real=$(command -v mktemp)
    mkdir -p "$BATS_TEST_TMPDIR/slow"
    {
        echo '#!/bin/sh'
        echo 'case " $* " in *" -d "*) asked=folder ;; *) asked=file ;; esac'
        echo "[ \$asked = $1 ] || exec $real \"\$@\""
        if [ "${2:-}" = fails ]; then
            echo "touch '$BATS_TEST_TMPDIR/making'"
            echo 'sleep 3; echo "mktemp: failed to create file: No space left on device" >&2; exit 1'
        else
            echo "$real \"\$@\" || exit"
            echo "touch '$BATS_TEST_TMPDIR/making'"
            echo 'sleep 3'
        fi
    } > "$BATS_TEST_TMPDIR/slow/mktemp"
    chmod +x "$BATS_TEST_TMPDIR/slow/mktemp"
}

# True when a message queue with key 0x12345 exists.
queue_exists() {
    ipcs -q | grep -q '^0x00012345 '
}

# Before a test that makes or removes the queue with key 0x12345. In an IPC namespace of the
# tests' own (tests/private_ipc) any queue there is a leftover of theirs and goes; elsewhere a
# queue there belongs to someone else, and the test is skipped rather than change it.
claim_queue_key() {
    command -v ipcs > /dev/null || skip "ipcs (util-linux) is not installed"
    if [ -n "${SYSZOO_PRIVATE_IPC:-}" ]; then
        ipcrm -Q 0x12345 2> /dev/null || true
    elif queue_exists; then
        skip "a message queue with key 0x12345 exists and no private IPC namespace could be made: this test would change it"
    fi
    queue_key_claimed=1
}

# After such a test: remove the queue it made, and only when the key was claimed.
release_queue_key() {
    if [ "${queue_key_claimed:-0}" -eq 1 ]; then
        ipcrm -Q 0x12345 2> /dev/null || true
    fi
    queue_key_claimed=0
}

# Setup of a tour test: $mark, which marks the processes of its tours, and $began, a file made
# as it begins, which what they leave is newer than. (Not the test's own folder: its time changes
# whenever a file comes or goes in it, a tour's page say.)
tour_setup() {
    mark=$BATS_TEST_TMPDIR
    began=$BATS_TEST_TMPDIR/began
    : > "$began"
}

# True when the tour left nothing behind: no process with mark $1, nothing on port 5678, no
# message queue 0x12345 and no working folder. A tour's folder is named by its PID
# (tour.PID.XXXXXX): one whose tour still runs is another test's, which may run beside this one.
tour_left_nothing() {
    local left folder pid
    left=$(marked_processes "$1")
    [ -z "$left" ] || { echo "processes left: $(ps -o pid=,args= -p "${left//$'\n'/,}")"; return 1; }
    ! ss -ltn | grep -q '127.0.0.1:5678 ' || { echo "port 5678 still busy"; return 1; }
    ! queue_exists || { echo "queue 0x12345 left"; return 1; }
    while IFS= read -r folder; do
        pid=${folder##*/tour.}
        pid=${pid%%.*}
        [[ $pid =~ ^[0-9]+$ ]] && kill -0 "$pid" 2> /dev/null && continue
        echo "working folder left: $folder"
        return 1
    done < <(find "$ROOT/build" -maxdepth 1 -name 'tour.*' -newer "${began:?a tour test calls tour_setup}" 2> /dev/null)
}

# The programs' folder as the tour shows it to a reader in the current folder: relative to the
# checkout there, in full elsewhere.
shown_bin() {
    if [ "$PWD" = "$ROOT" ]; then echo "${BIN#"$ROOT"/}"; else echo "$BIN"; fi
}

# Standard input without the tour's notes that the next lines came on both streams at once: one
# depends on when the tour read the lines, and a long one is wrapped over two lines or more.
without_order_notes() {
    awk '/^\(the next [0-9]+ lines came on standard output and standard error at once: / { note = 1 }
        !note { print } note && /is not known\)$/ { note = 0 }'
}

# The tour, with its processes marked by $mark (see marked_processes), and without bats's
# descriptor 3, which a process left running would hold.
tour() {
    SYSZOO_MARK=${mark:?a tour test sets mark in its setup} "$ROOT/tour" "$@" 3>&-
}

# Teardown of a tour test: stop what the tour left running, give the queue key back.
tour_teardown() {
    local p
    for p in $(marked_processes "$mark"); do kill "$p" 2> /dev/null || true; done
    release_queue_key
}

# --- as another user ---------------------------------------------------------------------------
# A learner's own account, in a checkout someone else (root) owns: user nobody.

# A folder that user nobody may write, in $nobody_tmp under /tmp (the tests' own folders are
# root's alone); the test's teardown calls remove_nobody_folder. Skips unless run as root.
nobody_folder() {
    [ "$(id -u)" -eq 0 ] || skip "only root can run a command as another user here"
    nobody_tmp=$(mktemp -d /tmp/syszoo-nobody.XXXXXX)
    chmod 1777 "$nobody_tmp"
}

# In that folder, what user nobody may read but not write, as a learner with a checkout of
# someone else's: $nobody_root, a copy of the tour, ./check, tools/ and the stop files, without a
# build; $nobody_bin, a copy of the built programs, and beside it the build-info file that names
# both, and $nobody_tmp/tests the tests' helpers. (The checkout itself may be out of nobody's
# reach, under /root say.) $nobody_tmp/tmp is a folder nobody may write.
nobody_checkout() {
    nobody_folder
    nobody_root=$nobody_tmp/checkout
    nobody_bin=$nobody_tmp/bin
    mkdir "$nobody_root" "$nobody_tmp/tmp"
    chmod 1777 "$nobody_tmp/tmp"
    cp -R "$ROOT/tour" "$ROOT/check" "$ROOT/tools" "$nobody_root"
    cp -R "$BIN" "$nobody_bin"
    # the tests' helpers beside the programs, where a run given only the programs looks for them
    mkdir "$nobody_tmp/tests"
    [ -z "${TOOLS:-}" ] || find "$TOOLS" -maxdepth 1 -type f -perm -u+x -exec cp -t "$nobody_tmp/tests" {} +
    # the stops beside their programs' folders, and what the build made, as the copy has it
    local folder
    # shellcheck disable=SC2013 # folder names, one a word
    for folder in $(awk -F '\t' '$1 == "folder" { print $2 }' "$BUILD_INFO"); do
        mkdir "$nobody_root/$folder"
        cp "$ROOT/$folder"/*.tour "$nobody_root/$folder"
        cp "$ROOT/$folder"/*.bash "$nobody_root/$folder" 2> /dev/null || true
    done
    awk -F '\t' -v OFS='\t' -v source="$nobody_root" -v bin="$nobody_bin" \
        '$1 == "source" { $2 = source } $1 == "bin" { $2 = bin } { print }' "$BUILD_INFO" > "$nobody_tmp/build-info"
    chmod -R go-w,a+rX "$nobody_root" "$nobody_bin" "$nobody_tmp/tests" "$nobody_tmp/build-info"
    # The copy's own record, whatever the test run was given: the checkout's may be out of
    # nobody's reach (a clone under /root).
    export SYSZOO_BUILD_INFO=$nobody_tmp/build-info
}

remove_nobody_folder() {
    [ -z "${nobody_tmp:-}" ] || rm -rf "${nobody_tmp:?}"
}

as_nobody() {
    setpriv --reuid=65534 --regid=65534 --clear-groups "$@"
}

# --- fault injection -------------------------------------------------------------------------
# strace makes one chosen system call fail, so that a test can watch how a program reports a
# failure that a healthy machine never shows.

# Skip the test unless strace is installed and can make a call fail here (it cannot where ptrace
# is refused, e.g. under another tracer). Two runs of uname: milliseconds.
need_fault_injection() {
    command -v strace > /dev/null ||
        skip "strace is not installed (Debian package strace): no fault injection"
    strace -qq -o /dev/null -e trace=uname uname > /dev/null 2>&1 ||
        skip "strace cannot trace here: no fault injection"
    ! strace -qq -o /dev/null -e trace=uname -e inject=uname:error=EPERM uname > /dev/null 2>&1 ||
        skip "strace cannot make a system call fail here: no fault injection"
}

# Skip the test unless strace is installed and can trace a program here.
need_strace() {
    command -v strace > /dev/null ||
        skip "strace is not installed (Debian package strace): no system call trace"
    strace -qq -o /dev/null -e trace=uname uname > /dev/null 2>&1 ||
        skip "strace cannot trace here: no system call trace"
}

# Run command $2... under strace and print its calls of $1 (names, comma-separated, as strace
# takes them), one a line with its result, as strace shows them. The command's own output is
# dropped, and so is its status.
traced_calls() {
    local calls=$1
    shift
    ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0 \
        strace -qq -o "$BATS_TEST_TMPDIR/traced_calls" -e trace="$calls" -e signal=none -- "$@" \
        > /dev/null 2>&1 3>&- || true
    cat "$BATS_TEST_TMPDIR/traced_calls"
}

# with_fault FAULT... -- COMMAND...: run COMMAND (and every process it starts) under strace,
# with the calls each FAULT names made to fail. A FAULT is CALLS:HOW:when=WHEN, as strace takes
# it: CALLS are names or classes, comma-separated; HOW is error=ERRNO, or retval=VALUE for a
# call that returns VALUE without running; WHEN picks the calls among CALLS by their count (N,
# N..M, N+), which each process keeps for itself. A command still running after 20 seconds (a
# failure missed its call, say) is killed, and the status is 124; so is the command when its
# with_fault is stopped (one run in the background, by a teardown). The leak check of a
# sanitized build cannot run under a tracer, so it is off.
with_fault() {
    local options=() calls=()
    while [ "$1" != -- ]; do
        options+=(-e "inject=$1")
        calls+=("${1%%:*}")
        shift
    done
    shift
    local IFS=,
    ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0 \
        strace -f -qq -o /dev/null -e trace="${calls[*]}" "${options[@]}" -- "$@" <&0 3>&- &
    fault_tracer=$!
    trap 'stop_fault_tracer; exit 143' TERM
    if ! wait_until "! is_running $fault_tracer" 20 2> /dev/null; then
        stop_fault_tracer
        echo "with_fault: $* still ran after 20 seconds" >&2
        return 124
    fi
    trap - TERM
    wait "$fault_tracer"
}

# strace leaves what it started running when it is killed: that goes first.
stop_fault_tracer() {
    local pid
    for pid in $(pgrep -P "$fault_tracer"); do kill -KILL "$pid" 2> /dev/null; done
    kill -KILL "$fault_tracer" 2> /dev/null
    wait "$fault_tracer" 2> /dev/null
}

# How many of CALLS (as for with_fault) the run-time of this build makes before a program's
# main starts (a sanitizer's own signal handlers, say), counted in the program that does
# nothing: add it to a WHEN of with_fault that counts the program's own calls. Only for calls
# that the run-time does not also make at exit, where blank would count them too. It runs in
# the background as with_fault runs its command: a background job starts with the interrupt
# ignored, and the coverage build's run-time then leaves that signal alone.
startup_calls() {
    ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0 \
        strace -f -qq -o "$BATS_TEST_TMPDIR/startup_calls" -e trace="$1" "$BIN/blank" 3>&- &
    wait $! || return 1
    grep -c . "$BATS_TEST_TMPDIR/startup_calls" || true
}

# Run command $3... with fault $1 injected (see with_fault): it must end with status 1, print
# nothing on standard output, and exactly $2 on standard error.
assert_fault_ends_it() {
    local fault=$1 expected=$2
    shift 2
    run --separate-stderr with_fault "$fault" -- "$@"
    assert_failure 1
    assert_output ''
    # shellcheck disable=SC2154 # run --separate-stderr sets it
    [ "$stderr" = "$expected" ]
}

# A folder of programs: the built ones, each in $fake/bin as a link, for stand-ins to replace.
fake_programs() {
    fake=$BATS_TEST_TMPDIR/fake
    mkdir -p "$fake/bin"
    ln -s "$BIN"/* "$fake/bin"
}

# Program $1 replaced by a bash script whose body is $2.
stand_in() {
    rm "$fake/bin/$1"
    printf '#!/bin/bash\n%s\n' "$2" > "$fake/bin/$1"
    chmod +x "$fake/bin/$1"
}

# Run headless Chromium with JavaScript off (a fresh profile whose settings block it) on file $1,
# with further arguments $2... Its home is the profile's folder too: it would leave its crash
# reports and caches in the user's.
chromium_on() {
    local file=$1 profile
    shift
    profile=$(mktemp -d "$BATS_TEST_TMPDIR/profile.XXXXXX")
    mkdir "$profile/Default"
    echo '{"profile":{"default_content_setting_values":{"javascript":2}}}' > "$profile/Default/Preferences"
    HOME=$profile XDG_CONFIG_HOME=$profile/config XDG_CACHE_HOME=$profile/cache timeout 60 chromium --headless --no-sandbox --disable-gpu --no-first-run \
        --disable-background-networking --disable-component-update --disable-sync \
        --user-data-dir="$profile" "$@" "file://$file" 2> /dev/null 3>&-
}

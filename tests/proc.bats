#!/usr/bin/env bats
# Black-box tests of farewell, interleave, shellrun and catcher.
# ctest: TIMEOUT 480 COST 52

load helper

setup() {
    out=$BATS_TEST_TMPDIR/out
    err=$BATS_TEST_TMPDIR/err
    pid=
}

teardown() {
    stop_pid "$pid"
    stop_pid "${child:-}"
}

# --- farewell --------------------------------------------------------------------------------

@test "farewell runs its exit handlers last registered first, on a terminal-less pipe too" {
    expected=$'main is done\nfirst exit handler\nfirst exit handler\nsecond exit handler'
    run --separate-stderr "$BIN/farewell"
    assert_success
    assert_output "$expected"
    [ -z "$stderr" ]

    run bash -c '"$1" extra args | cat' _ "$BIN/farewell"
    assert_success
    assert_output "$expected"
    cmp <(printf '%s\n' "$expected") <("$BIN/farewell") # the exact bytes, last newline too
}

@test "farewell's handlers print their lines at exit, not called by main" {
    [ -n "$TOOLS" ] || skip "SYSZOO_TOOLS does not name the test helpers"
    # ThreadSanitizer's run-time takes the registrations itself: the stand-in beneath sees none.
    [[ $(awk -F '\t' '$1 == "sanitizers" { print $2 }' "$BUILD_INFO") != *thread* ]] ||
        skip "a ThreadSanitizer build registers exit handlers in its own run-time"
    # A line goes out right before each handler registered to run at exit (tests/exit_mark.cpp):
    # each line of the handlers' comes from a handler of its own, the last is report_lost_output.
    export ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0
    run --separate-stderr env LD_LIBRARY_PATH="$TOOLS" LD_PRELOAD=libexit_mark.so "$BIN/farewell"
    assert_success
    mark='-- exit handler --'
    assert_output "$(printf '%s\n' 'main is done' "$mark" 'first exit handler' "$mark" 'first exit handler' \
        "$mark" 'second exit handler' "$mark")"
    [ -z "$stderr" ]
}

@test "farewell reports the handlers' lines that cannot be written, after the handlers ran" {
    assert_reports_lost_output "$BIN/farewell"
}

# --- interleave ------------------------------------------------------------------------------

# True when the string $1 is an interleaving of $2 and $3 that keeps each one's order.
is_interleaving() {
    awk -v s="$1" -v a="$2" -v b="$3" 'BEGIN {
        n = length(a); m = length(b)
        if (length(s) != n + m) exit 1
        for (i = 0; i <= n; i++)
            for (j = 0; j <= m; j++) {
                c = substr(s, i + j, 1)
                ok[i, j] = (i == 0 && j == 0) ||
                           (i > 0 && ok[i - 1, j] && substr(a, i, 1) == c) ||
                           (j > 0 && ok[i, j - 1] && substr(b, j, 1) == c)
            }
        exit !ok[n, m]
    }'
}

@test "interleave: parent and child each write their text once, in order, mixed in one file" {
    start=$SECONDS
    "$BIN/interleave" > "$out" 2> "$err" 3>&- &
    pid=$!
    # The child is found by its parent while both run; nothing else of ours is its child.
    wait_until '[ -n "$(pgrep -P $pid)" ]' 5
    child=$(pgrep -P "$pid")
    # Unbuffered: the first characters are in the file within seconds, long before either ends.
    wait_until '[ "$(wc -c < "$out")" -ge 3 ]' 5
    kill -0 "$pid"
    parent_status=0
    wait_bounded "$pid" 40 || parent_status=$?
    pid=
    elapsed=$(( SECONDS - start ))
    # The parent did not wait: its child may still run; wait for it before reading the file.
    wait_until '! is_running $child' 10

    [ "$parent_status" -eq 0 ]
    # 19 one-second pauses in the parent: doubled, they would take 38 s.
    (( elapsed >= 15 && elapsed <= 25 ))
    [ ! -s "$err" ]
    [ "$(wc -c < "$out")" -eq 37 ]
    [ "$(grep -c '' "$out")" -eq 2 ]
    is_interleaving "$(tr '\n' '|' < "$out")" "output from child|" "output from parent|"
}

@test "interleave: both processes write every character on its own, one byte a write" {
    need_strace
    # A process left buffered writes its text in one piece, at its end.
    # One trace file a process (-ff): no call of one is cut in two by another's.
    export ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0 # LeakSanitizer cannot run under a tracer
    timeout 60 strace -ff -qq -o "$BATS_TEST_TMPDIR/trace" -e trace=write -e signal=none \
        "$BIN/interleave" > "$out" 2> "$err" 3>&-
    [ ! -s "$err" ]
    [ "$(wc -c < "$out")" -eq 37 ]
    # Per process: how many writes to standard output, and how many of them wrote one byte.
    run awk '/^write\(1,/ { all[FILENAME]++; if ($NF == 1 && $(NF - 2) == "1)") one[FILENAME]++ }
             END { for (f in all) print all[f], one[f] + 0 }' "$BATS_TEST_TMPDIR"/trace.*
    [ "$(sort -n <<< "$output")" = $'18 18\n19 19' ]
}

@test "the interleaving check itself tells a mixed text from a damaged one" {
    is_interleaving "aXbY" "ab" "XY"
    run ! is_interleaving "abYX" "ab" "XY"
    run ! is_interleaving "aXb" "ab" "XY"
    run ! is_interleaving "aXbYY" "ab" "XY"
}

@test "interleave: parent and child each report a character that cannot be written, and stop" {
    for target in /dev/full -; do
        with_stdout "$target" "$BIN/interleave" 2> "$err" 3>&- &
        pid=$!
        status=0
        wait_bounded "$pid" 30 || status=$?
        pid=
        [ "$status" -eq 1 ]
        # The child is not waited for: its own report may come a moment later.
        wait_until '[ "$(grep -c "" "$err")" -ge 2 ]' 5
        message=$([ "$target" = - ] && echo "Bad file descriptor" || echo "No space left on device")
        [ "$(cat "$err")" = "output error: $message"$'\n'"output error: $message" ]
    done
}

@test "interleave reports a fork that fails, and writes nothing" {
    need_fault_injection
    # fork is a clone call of the C library's.
    assert_fault_ends_it clone,fork:error=EAGAIN:when=1 \
        "fork error: Resource temporarily unavailable" \
        "$BIN/interleave"
}

# --- shellrun --------------------------------------------------------------------------------

@test "shellrun without an argument runs nothing and says so" {
    run --separate-stderr "$BIN/shellrun"
    assert_failure 1
    assert_output ''
    [ "$stderr" = "command-line argument required" ]
}

@test "shellrun exits 0 whatever the command's status, and passes its output through" {
    run --separate-stderr "$BIN/shellrun" 'echo to-out; echo to-err >&2; exit 3'
    assert_success
    assert_output "to-out"
    [ "$stderr" = "to-err" ]

    run --separate-stderr "$BIN/shellrun" ''
    assert_success
    assert_output ''
    [ -z "$stderr" ]
}

@test "shellrun goes by what system() returns: errno left set by a system() that worked means nothing" {
    [ -n "$TOOLS" ] || skip "SYSZOO_TOOLS does not name the test helpers"
    # The preloaded system() leaves errno at EINTR when it returns a status (tests/system_errno.cpp).
    export ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0
    for command in 'echo ran' 'echo ran; exit 3'; do
        run --separate-stderr env LD_LIBRARY_PATH="$TOOLS" LD_PRELOAD=libsystem_errno.so "$BIN/shellrun" "$command"
        assert_success
        assert_output "ran"
        [ -z "$stderr" ]
    done
}

@test "shellrun reports a missing command only through the shell" {
    run --separate-stderr "$BIN/shellrun" 'no-such-command-anywhere'
    assert_success
    assert_output ''
    [[ $stderr == *no-such-command-anywhere*"not found"* ]]
}

@test "shellrun runs only its first argument" {
    run --separate-stderr "$BIN/shellrun" 'echo first' 'echo second'
    assert_success
    assert_output "first"
}

@test "shellrun survives an interrupt that ends its command" {
    # A new process group, with the interrupt at its default action (a background job of a
    # script starts with it ignored).
    start=$SECONDS
    setsid env --default-signal=INT,QUIT "$BIN/shellrun" 'sleep 30; echo not reached' \
        > "$out" 2> "$err" 3>&- &
    pid=$!
    wait_until '[ "$(ps -o pid= -g $pid | wc -l)" -ge 3 ]' 10
    kill -INT -- "-$pid"
    status=0
    wait_bounded "$pid" 20 || status=$?
    pid=
    [ "$status" -eq 0 ]
    [ $(( SECONDS - start )) -lt 20 ]
    [ ! -s "$out" ]
}

@test "shellrun reports a system() that fails, and fails" {
    need_fault_injection
    # The shell starts, but waiting for it fails: system() returns -1.
    assert_fault_ends_it wait4,waitpid:error=ECHILD:when=1 \
        "system() error: No child processes" \
        "$BIN/shellrun" true
}

# --- catcher ---------------------------------------------------------------------------------

# True when process $1 is catcher and catches both user signals (SigCgt bits 9 and 11: signals 10
# and 12). Its name counts too: until it has become catcher, the test's shell forked to start it
# has, for a moment, the handlers of this shell, which catches both.
catches_user_signals() {
    local caught name
    read -r name 2> /dev/null < "/proc/$1/comm" && [ "$name" = catcher ] || return 1
    caught=$(awk '/^SigCgt:/ { print $2 }' "/proc/$1/status") || return 1
    (( (0x$caught & 0xa00) == 0xa00 ))
}

# Start catcher in the background, output to files, and wait until both handlers are in place.
start_catcher() {
    "$BIN/catcher" > "$out" 2> "$err" 3>&- &
    pid=$!
    wait_until 'catches_user_signals $pid' 10
}

lines_out() {
    grep -c '' "$out" || true
}

@test "catcher prints a line per signal, and SIGTERM ends it silently" {
    start_catcher
    kill -USR1 "$pid"
    wait_until '[ "$(lines_out)" -eq 1 ]'
    kill -USR2 "$pid"
    wait_until '[ "$(lines_out)" -eq 2 ]'
    kill -USR1 "$pid"
    wait_until '[ "$(lines_out)" -eq 3 ]'

    kill -TERM "$pid"
    status=0
    wait_bounded "$pid" 5 || status=$?
    pid=
    [ "$status" -eq 143 ] # killed by SIGTERM (128 + 15)
    cmp <(printf 'received SIGUSR%d\n' 1 2 1) "$out"
    [ ! -s "$err" ]
}

@test "catcher's handler calls no standard I/O: under a guard that forbids it, every signal still gives its line" {
    [ -n "$TOOLS" ] || skip "SYSZOO_TOOLS does not name the test helpers"
    # Standard I/O inside a handler ends catcher with status 70 (tests/handler_stdio.cpp).
    export ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0
    LD_LIBRARY_PATH=$TOOLS LD_PRELOAD=libhandler_stdio.so "$BIN/catcher" > "$out" 2> "$err" 3>&- &
    pid=$!
    wait_until 'catches_user_signals $pid' 10
    kill -USR1 "$pid"
    wait_until '[ "$(lines_out)" -eq 1 ] || ! kill -0 $pid 2> /dev/null'
    kill -USR2 "$pid" 2> /dev/null || true
    wait_until '[ "$(lines_out)" -eq 2 ] || ! kill -0 $pid 2> /dev/null'
    kill -TERM "$pid" 2> /dev/null || true
    status=0
    wait_bounded "$pid" 5 || status=$?
    pid=
    [ ! -s "$err" ] || { cat "$err"; false; }
    [ "$status" -eq 143 ]
    cmp <(printf 'received SIGUSR%d\n' 1 2) "$out"
}

@test "catcher keeps its handler: 200 signals one at a time give 200 lines" {
    start_catcher
    for (( i = 1; i <= 200; i++ )); do
        if (( i % 2 )); then kill -USR1 "$pid"; else kill -USR2 "$pid"; fi
        wait_until '[ "$(lines_out)" -eq $i ]' 5
    done
    [ "$(grep -c '^received SIGUSR1$' "$out")" -eq 100 ]
    [ "$(grep -c '^received SIGUSR2$' "$out")" -eq 100 ]
}

@test "catcher survives a storm of both signals and never tears a line" {
    start_catcher
    for (( i = 0; i < 2000; i++ )); do
        kill -USR1 "$pid"
        kill -USR2 "$pid"
    done
    sleep 0.2
    kill -0 "$pid"
    n=$(lines_out)
    (( n >= 2 && n <= 4000 ))
    run ! grep -vx -e 'received SIGUSR1' -e 'received SIGUSR2' "$out"
    [ ! -s "$err" ]
}

@test "catcher reports a handler that cannot be installed, for either signal, and fails" {
    need_fault_injection
    # A sanitizer's run-time installs handlers of its own before main: those come first.
    first=$(( $(startup_calls rt_sigaction,sigaction) + 1 ))
    assert_fault_ends_it rt_sigaction,sigaction:error=EINVAL:when="$first" \
        "can't catch SIGUSR1: Invalid argument" \
        "$BIN/catcher"

    assert_fault_ends_it rt_sigaction,sigaction:error=EINVAL:when=$(( first + 1 )) \
        "can't catch SIGUSR2: Invalid argument" \
        "$BIN/catcher"
}

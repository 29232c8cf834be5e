#!/usr/bin/env bats
# Black-box tests of pairjoin and pairhalt: one run each, their output checked line by line.

load helper

@test "pairjoin: both counters run to five, then the total of 10, in about five seconds" {
    start=$SECONDS
    run --separate-stderr "$BIN/pairjoin"
    elapsed=$(( SECONDS - start ))
    assert_success
    [ -z "$stderr" ]
    [ "${#lines[@]}" -eq 11 ]
    [ "$(grep '^task1 count: ' <<< "$output")" = "$(printf 'task1 count: %d\n' 0 1 2 3 4)" ]
    [ "$(grep '^task2 count: ' <<< "$output")" = "$(printf 'task2 count: %d\n' 0 1 2 3 4)" ]
    [ "${lines[10]}" = "total iterations: 10" ]
    [ "$elapsed" -ge 3 ] && [ "$elapsed" -le 20 ]
}

@test "pairhalt: task2 counts to five, task1 is cut short, no line twice, total 5 or 6" {
    start=$SECONDS
    run --separate-stderr "$BIN/pairhalt"
    elapsed=$(( SECONDS - start ))
    assert_success
    [ -z "$stderr" ]
    [ "$(grep '^task2 count: ' <<< "$output")" = "$(printf 'task2 count: %d\n' 0 1 2 3 4)" ]
    task1=$(grep -c '^task1 count: ' <<< "$output" || true)
    [ "$task1" -le 1 ]
    [ -z "$(sort <<< "$output" | uniq -d)" ]
    last=${lines[${#lines[@]} - 1]}
    [[ $last == "total iterations: 5" || $last == "total iterations: 6" ]]
    [ "${#lines[@]}" -eq $(( 6 + task1 )) ]
    [ "$elapsed" -ge 7 ] && [ "$elapsed" -le 30 ]
}

@test "pairjoin and pairhalt report a thread that cannot be created, and fail" {
    [ "$(id -u)" -eq 0 ] || skip "needs root to run the programs as another user"
    # As nobody, with a limit of one process for that user: no thread can start. (Not as root,
    # whom the limit does not bind. The leak checker of a sanitized build needs a thread too.)
    as_nobody_alone() {
        ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0 \
            setpriv --reuid=65534 --regid=65534 --clear-groups bash -c 'ulimit -Su 1 && exec "$0"' "$1"
    }
    setpriv --reuid=65534 --regid=65534 --clear-groups test -x "$BIN/pairjoin" ||
        skip "the user nobody cannot run the programs from here"
    for program in pairjoin pairhalt; do
        run --separate-stderr as_nobody_alone "$BIN/$program"
        assert_failure 1
        assert_output ''
        [ "$stderr" = "pthread_create: task1: Resource temporarily unavailable" ]
    done
}

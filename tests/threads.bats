#!/usr/bin/env bats
# Black-box tests of pairjoin and pairhalt: one run each, their output checked line by line.
# ctest: TIMEOUT 600 COST 72

load helper

teardown() {
    remove_nobody_folder
}

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
    (( elapsed >= 3 && elapsed <= 20 ))
}

@test "pairjoin waits for task1 by joining it: with the main thread's sleeps cut short the total is still 10" {
    [ -n "$TOOLS" ] || skip "SYSZOO_TOOLS does not name the test helpers"
    # The main thread's sleeps return at once (tests/main_nosleep.cpp): a main that sleeps
    # instead of joining reads task1's counter long before task1 is done.
    export ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0
    run --separate-stderr env LD_LIBRARY_PATH="$TOOLS" LD_PRELOAD=libmain_nosleep.so "$BIN/pairjoin"
    assert_success
    [ -z "$stderr" ]
    [ "$(grep -c '^task1 count: ' <<< "$output")" -eq 5 ]
    [ "${lines[${#lines[@]} - 1]}" = "total iterations: 10" ]
}

@test "pairjoin waits for task1 by joining it: held back until main joins it, task1 still counts to five" {
    [ -n "$TOOLS" ] || skip "SYSZOO_TOOLS does not name the test helpers"
    # Each task starts only when main begins to join it (tests/join_gate.cpp): a main that waits in
    # any other way (a sleep, a poll, a loop on the counter), or not at all, reads 0 for it, or
    # waits for ever.
    export ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0
    run --separate-stderr timeout 30 env LD_LIBRARY_PATH="$TOOLS" LD_PRELOAD=libjoin_gate64.so "$BIN/pairjoin"
    assert_success
    [ -z "$stderr" ]
    [ "$(grep '^task1 count: ' <<< "$output")" = "$(printf 'task1 count: %d\n' 0 1 2 3 4)" ]
    [ "${lines[${#lines[@]} - 1]}" = "total iterations: 10" ]
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
    (( elapsed >= 7 && elapsed <= 30 ))
}

@test "pairhalt on a terminal: a task1 line printed with its cancellation pending is counted, once" {
    [ -n "$TOOLS" ] || skip "SYSZOO_TOOLS does not name the test helpers"
    command -v script > /dev/null || skip "script (bsdutils) is needed for a pseudo-terminal"
    # task1 starts only when main begins to join it (tests/join_gate.cpp): its first printf
    # meets the pending request, and main has read nothing before the join. A main that waits
    # for task1 in any other way reads 0 for it, or waits for ever.
    export ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0
    run script -qec "timeout 40 env LD_LIBRARY_PATH='$TOOLS' LD_PRELOAD=libjoin_gate.so '$BIN/pairhalt'" /dev/null < /dev/null
    assert_success
    out=$(tr -d '\r' <<< "$output")
    [ "$(grep -c '^task2 count: ' <<< "$out")" -eq 5 ]
    [ "$(grep '^task1 count: ' <<< "$out")" = "task1 count: 0" ]
    [ "$(tail -n 1 <<< "$out")" = "total iterations: 6" ]
}

@test "pairhalt on a terminal: in every run the total is 5 plus the task1 lines printed" {
    command -v script > /dev/null || skip "script (bsdutils) is needed for a pseudo-terminal"
    # On a terminal each line is written as it is printed, so a cancellation inside printf
    # would show: a line out, its count never added. Three runs side by side.
    local i pids=()
    for i in 1 2 3; do
        timeout 40 script -qec "'$BIN/pairhalt'" /dev/null < /dev/null > "$BATS_TEST_TMPDIR/run$i" 2>&1 3>&- &
        pids+=($!)
    done
    for i in "${!pids[@]}"; do wait "${pids[i]}"; done # each bounded by its timeout
    for i in 1 2 3; do
        out=$(tr -d '\r' < "$BATS_TEST_TMPDIR/run$i")
        task1=$(grep -c '^task1 count: ' <<< "$out" || true)
        [ "$(grep -c '^task2 count: ' <<< "$out")" -eq 5 ]
        [ "$(tail -n 1 <<< "$out")" = "total iterations: $(( 5 + task1 ))" ]
    done
}

@test "pairjoin and pairhalt report a thread that cannot be created, and fail" {
    # As nobody, with a limit of one process for that user: no thread can start. (Not as root,
    # whom the limit does not bind. The leak checker of a sanitized build needs a thread too.)
    as_nobody_alone() {
        ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0 \
            setpriv --reuid=65534 --regid=65534 --clear-groups bash -c 'ulimit -Su 1 && exec "$0"' "$1"
    }
    # copies of the programs where nobody may run them: the checkout may be out of nobody's
    # reach (under /root, say)
    nobody_folder
    cp "$BIN/pairjoin" "$BIN/pairhalt" "$nobody_tmp"
    chmod a+rx "$nobody_tmp/pairjoin" "$nobody_tmp/pairhalt" # whatever the umask
    setpriv --reuid=65534 --regid=65534 --clear-groups test -x "$nobody_tmp/pairjoin" ||
        skip "the user nobody cannot run programs from $nobody_tmp"
    for program in pairjoin pairhalt; do
        run --separate-stderr as_nobody_alone "$nobody_tmp/$program"
        assert_failure 1
        assert_output ''
        [ "$stderr" = "pthread_create: task1: Resource temporarily unavailable" ]
    done
}

@test "pairjoin and pairhalt report a second thread that cannot be created, and fail" {
    need_fault_injection
    # task2 is the last thread a program starts, but a sanitizer's run-time may start one of its
    # own on the first pthread_create: a run of pairhalt, which ends at once, counts them.
    ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0 \
        strace -f -qq -o "$BATS_TEST_TMPDIR/starts" -e trace=clone,clone3 "$BIN/pairhalt" > /dev/null
    task2=$(grep -cE '^[0-9]+ +clone3?\(' "$BATS_TEST_TMPDIR/starts") # not the "resumed" lines
    for program in pairjoin pairhalt; do
        run --separate-stderr with_fault clone,clone3:error=EAGAIN:when="$task2" -- "$BIN/$program"
        assert_failure 1
        # task1 runs already, and may print a line or two before the exit ends it: only its.
        for line in "${lines[@]}"; do [[ $line =~ ^"task1 count: "[0-4]$ ]]; done
        [ "$stderr" = "pthread_create: task2: Resource temporarily unavailable" ]
    done
}

@test "pairjoin and pairhalt report output that cannot be written, and fail" {
    # Four runs side by side: a full device and a closed output, for each program.
    local program target i=0 pids=()
    for program in pairjoin pairhalt; do
        for target in /dev/full -; do
            with_stdout "$target" "$BIN/$program" 2> "$BATS_TEST_TMPDIR/err$i" 3>&- &
            pids+=($!)
            i=$(( i + 1 ))
        done
    done
    messages=("No space left on device" "Bad file descriptor")
    for i in "${!pids[@]}"; do
        status=0
        wait_bounded "${pids[i]}" 40 || status=$?
        [ "$status" -eq 1 ]
        [ "$(cat "$BATS_TEST_TMPDIR/err$i")" = "output error: ${messages[i % 2]}" ]
    done
}

#!/usr/bin/env bats
# The commands the tour shows, pasted after it has ended into an interactive shell in the folder
# it was started from, do what the tour showed: none names the tour's work folder, which is gone
# by then, and a file they share is made and removed by commands of their own.
# ctest: TIMEOUT 900 COST 237 SCRIPT PRIVATE_IPC PRIVATE_NET port_5678 message_queue_0x12345

load helper

setup() {
    tour_setup
}

teardown() {
    tour_teardown
}

@test "each stop's commands, pasted after the whole tour into one interactive shell, run as shown" {
    claim_queue_key
    export ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0
    # the temporary files of the tour's commands, and of the pasted ones, where they can be counted
    export TMPDIR=$BATS_TEST_TMPDIR/tmp
    mkdir "$TMPDIR"
    local options=(--html "$BATS_TEST_TMPDIR/tour.html")
    strace -qq -o /dev/null -e trace=uname -e inject=uname:error=EPERM uname > /dev/null 2>&1 || options+=(--break)
    cd "$ROOT"
    run --separate-stderr tour "${options[@]}"
    assert_success
    tour_left_nothing "$mark"
    [ -z "$(ls -A "$TMPDIR")" ]
    run ! grep -E '^<div class="c">.*tour\.[0-9]+\.[A-Za-z0-9]{6}/' "$BATS_TEST_TMPDIR/tour.html"
    run env SYSZOO_MARK="$mark" perl "$ROOT/tests/paste_on_pty.pl" "$BATS_TEST_TMPDIR/tour.html" 3>&-
    echo "$output"
    assert_success
    # every stop was pasted, and what its commands made they removed
    [ "$(grep -c ': as shown$' <<< "$output")" -eq "$(built_programs | wc -l)" ]
    [ -z "$(ls -A "$TMPDIR")" ]
    # (a tour of another test's, beside this one, holds a file of its own there during its stop)
    wait_until '[ -z "$(find "$ROOT/build" -maxdepth 1 -name "marked.*" -newer "$began" 2> /dev/null)" ]' 60
    tour_left_nothing "$mark"
}

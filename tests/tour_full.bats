#!/usr/bin/env bats
# The whole guided tour, once: about a minute.

load helper

setup() {
    mark=$BATS_TEST_TMPDIR
    claim_queue_key
    export ASAN_OPTIONS=detect_leaks=0 # relay runs under gdb, where the leak check cannot
}

teardown() {
    local p
    for p in $(marked_processes "$mark"); do kill "$p" 2> /dev/null || true; done
    release_queue_key
}

@test "the whole tour runs every stop, exits 0 and leaves nothing behind" {
    run --separate-stderr env SYSZOO_MARK="$mark" "$ROOT/tour" 3>&-
    assert_success
    [ "$(grep -c '^-- ' <<< "$output")" -eq 19 ]
    assert_line "End of the tour."
    tour_left_nothing "$mark"
}

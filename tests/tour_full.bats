#!/usr/bin/env bats
# The whole guided tour on the terminal: about a minute (as a page: tour_paste.bats).
# ctest: TIMEOUT 1200 COST 70 SCRIPT PRIVATE_IPC PRIVATE_NET port_5678 message_queue_0x12345

load helper

setup() {
    tour_setup
    claim_queue_key
    export ASAN_OPTIONS=detect_leaks=0 # relay runs under gdb, where the leak check cannot
}

teardown() {
    tour_teardown
}

@test "the whole tour runs every stop, exits 0 and leaves nothing behind" {
    run --separate-stderr tour
    assert_success
    # The programs' standard error shows marked on standard output: the tour's own is for faults.
    [ -z "$stderr" ]
    [ "$(grep '^-- ' <<< "$output" | cut -d: -f1)" = "$(built_programs | sed 's/^/-- /')" ]
    assert_line "End of the tour."
    tour_left_nothing "$mark"
}

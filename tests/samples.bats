#!/usr/bin/env bats
# The minimal samples: their exact output, with and without arguments.
# ctest: TIMEOUT 120

load helper

@test "oldstyle prints 2" {
    run --separate-stderr "$BIN/oldstyle" ignored
    assert_output "2"
    [ -z "$stderr" ]
    cmp <(printf '2\n') <("$BIN/oldstyle") # the exact bytes: run drops a final newline
}

@test "test prints the symbol's name" {
    run --separate-stderr "$BIN/test" ignored
    assert_output "HAVE_MMAP"
    [ -z "$stderr" ]
    cmp <(printf 'HAVE_MMAP\n') <("$BIN/test")
}

@test "oldstyle and test fail, silently, when their line cannot be written" {
    # Neither writes to standard error, by design: the status alone tells.
    for program in oldstyle test; do
        for target in /dev/full -; do
            run --separate-stderr with_stdout "$target" "$BIN/$program"
            assert_failure 1
            [ -z "$stderr" ]
        done
    done
}

@test "blank prints nothing and exits 0" {
    run --separate-stderr "$BIN/blank" ignored
    assert_success
    assert_output ''
    [ -z "$stderr" ]
    cmp /dev/null <("$BIN/blank" 2>&1)
}

#!/usr/bin/env bats
# The debugger sample, run plainly and stepped under gdb.
# ctest: TIMEOUT 180

load helper

@test "relay prints its one line and exits 0, whatever its arguments" {
    run --separate-stderr "$BIN/relay" extra
    assert_success
    assert_output "make_key returns 10"
    [ -z "$stderr" ]
    cmp <(printf 'make_key returns 10\n') <("$BIN/relay")
}

@test "relay reports its line that cannot be written, and fails" {
    assert_reports_lost_output "$BIN/relay"
}

@test "relay under gdb: four frames, and every caller's ret is 10 after its call returns" {
    command -v gdb > /dev/null || skip "gdb is not installed"
    # LeakSanitizer cannot run under a tracer; the asan build must not try.
    export ASAN_OPTIONS=detect_leaks=0
    step_out=(-ex finish -ex next -ex 'print ret')
    run gdb -batch -nx -iex 'set debuginfod enabled off' \
        -ex 'break number' -ex run -ex backtrace \
        "${step_out[@]}" "${step_out[@]}" "${step_out[@]}" -ex continue "$BIN/relay"
    assert_success
    frames=$(grep -E '^#[0-9]+ ' <<< "$output" | sed -E 's/.* ([a-z_]+) \(\).*/\1/' | paste -sd' ')
    [ "$frames" = "number get_key_num make_key main" ]
    [ "$(grep -cE '^\$[0-9]+ = 10$' <<< "$output")" -eq 3 ]
    assert_line "make_key returns 10"
    assert_line --partial "exited normally"
}

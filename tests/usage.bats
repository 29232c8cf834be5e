#!/usr/bin/env bats
# Black-box tests of tickmeter and loadmeter: the shape of every line, never the CPU figures.

load helper

@test "tickmeter prints seven lines: elapsed, then parent and child CPU times in seconds" {
    run --separate-stderr "$BIN/tickmeter"
    assert_success
    [ -z "$stderr" ]
    [ "${#lines[@]}" -eq 7 ]
    figure=' +[0-9]+\.[0-9]{2} secs$'
    [[ ${lines[0]} =~ ^elapsed:$figure ]]
    [ "${lines[1]}" = "parent times" ]
    [[ ${lines[2]} =~ ^$'\t'"user CPU:"$figure ]]
    [[ ${lines[3]} =~ ^$'\t'"sys  CPU:"$figure ]]
    [ "${lines[4]}" = "child times" ]
    [[ ${lines[5]} =~ ^$'\t'"user CPU:"$figure ]]
    [[ ${lines[6]} =~ ^$'\t'"sys  CPU:"$figure ]]
    # "%6.2f": at least six characters after ": ", so short figures are padded.
    [[ ${lines[0]} =~ ^elapsed:\ ([ 0-9.]{6,})\ secs$ ]]
}

@test "tickmeter's elapsed time is right when the tick count wraps between its two samples" {
    [ -n "$TOOLS" ] || skip "SYSZOO_TOOLS does not name the test helpers"
    # The preloaded times() gives the largest tick count less 4, then the smallest plus 6.
    export ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0
    run --separate-stderr env LD_PRELOAD="$TOOLS/libtimes_wrap.so" "$BIN/tickmeter"
    assert_success
    [ -z "$stderr" ]
    assert_line --index 0 "$(awk -v hz="$(getconf CLK_TCK)" 'BEGIN { printf "elapsed: %6.2f secs", 11 / hz }')"
    assert_line --index 2 $'\tuser CPU:   0.00 secs'
}

@test "loadmeter prints fourteen lines: own and children's CPU seconds, faults and swaps" {
    run --separate-stderr "$BIN/loadmeter"
    assert_success
    [ -z "$stderr" ]
    [ "${#lines[@]}" -eq 14 ]
    t=$'\t'
    labels=("parent times" "${t}user CPU" "${t}sys  CPU" "parent memory stats"
            "${t}minor faults" "${t}major faults" "${t}page   swaps"
            "child times" "${t}user CPU" "${t}sys  CPU" "child memory stats"
            "${t}minor faults" "${t}major faults" "${t}page   swaps")
    for i in "${!labels[@]}"; do
        if [[ ${labels[i]} == "$t"* ]]; then
            [[ ${lines[i]} =~ ^"${labels[i]}: "[0-9]+$ ]]
        else
            [ "${lines[i]}" = "${labels[i]}" ]
        fi
    done
}

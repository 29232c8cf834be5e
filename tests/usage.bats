#!/usr/bin/env bats
# Black-box tests of tickmeter and loadmeter: the shape of every line, and figures that make
# sense when the children clearly do the work.
# ctest: TIMEOUT 320

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

@test "tickmeter and loadmeter report output that cannot be written, and fail" {
    assert_reports_lost_output "$BIN/tickmeter"
    assert_reports_lost_output "$BIN/loadmeter"
}

@test "tickmeter's elapsed time is right when the tick count wraps between its two samples" {
    [ -n "$TOOLS" ] || skip "SYSZOO_TOOLS does not name the test helpers"
    # The preloaded times() gives the largest tick count less 4, then the smallest plus 6.
    export ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0
    # By name, from the library path: LD_PRELOAD would split a folder name with a space in it.
    run --separate-stderr env LD_LIBRARY_PATH="$TOOLS" LD_PRELOAD=libtimes_wrap.so "$BIN/tickmeter"
    assert_success
    [ -z "$stderr" ]
    assert_line --index 0 "$(awk -v hz="$(getconf CLK_TCK)" 'BEGIN { printf "elapsed: %6.2f secs", 11 / hz }')"
    assert_line --index 2 $'\tuser CPU:   0.00 secs'
}

@test "tickmeter asks the system for its tick rate: at 10 ticks a second, 11 ticks are 1.10 s" {
    [ -n "$TOOLS" ] || skip "SYSZOO_TOOLS does not name the test helpers"
    # The preloaded times() gives 11 ticks between the samples, and sysconf a rate of 10 a
    # second (tests/tick_rate.cpp): a rate written into the program as a number misses it.
    export ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0
    run --separate-stderr env LD_LIBRARY_PATH="$TOOLS" LD_PRELOAD="libtimes_wrap.so libtick_rate.so" "$BIN/tickmeter"
    assert_success
    [ -z "$stderr" ]
    assert_line --index 0 "elapsed:   1.10 secs"
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

# Put a grep of the tests' own first on PATH for the programs' shell: it touches some 40 MB and
# burns 2.5 s of CPU, so the children's figures stand clearly apart from the program's own. All
# in its one process: children running side by side (a pipeline) may use more CPU than the time
# elapsed, on a machine with idle cores.
busy_grep_first() {
    mkdir -p "$BATS_TEST_TMPDIR/path"
    cat > "$BATS_TEST_TMPDIR/path/grep" << 'EOF'
#!/usr/bin/env bash
printf -v text '%*s' 40000000 ''
ticks=0
while (( ticks < 250 )); do
    for (( i = 0; i < 1000; i++ )); do :; done
    read -r -a stat < /proc/$$/stat
    ticks=$(( stat[13] + stat[14] )) # user and system CPU so far, in ticks of 1/100 s
done
exit 1
EOF
    chmod +x "$BATS_TEST_TMPDIR/path/grep"
    PATH=$BATS_TEST_TMPDIR/path:$PATH
}

@test "tickmeter: the children's CPU is theirs and within the elapsed time; the program's is small" {
    [ "$(getconf CLK_TCK)" -eq 100 ] || skip "the busy grep counts CPU in ticks of 1/100 s"
    busy_grep_first
    run --separate-stderr "$BIN/tickmeter"
    assert_success
    # elapsed, parent user and system, child user and system: the numbers in their order.
    awk '{ for (i = 1; i <= NF; i++) if ($i ~ /^[0-9]+\.[0-9]+$/) v[n++] = $i }
         END { e = v[0]; p = v[1] + v[2]; c = v[3] + v[4]
               exit !(n == 5 && e < 60 && c >= 2.4 && c <= e + 0.05 && p < 0.5) }' <<< "$output"
}

@test "loadmeter: the children's CPU seconds and faults are theirs, not the program's own" {
    [ "$(getconf CLK_TCK)" -eq 100 ] || skip "the busy grep counts CPU in ticks of 1/100 s"
    busy_grep_first
    run --separate-stderr "$BIN/loadmeter"
    assert_success
    # Lines 1-2 and 8-9 are CPU seconds (cut to whole seconds), 4 and 11 minor faults.
    (( ${lines[1]##*: } + ${lines[2]##*: } == 0 ))
    (( ${lines[8]##*: } + ${lines[9]##*: } >= 1 )) # 2.5 s in all: each cut loses under 1 s
    (( ${lines[4]##*: } < 10000 ))
    (( ${lines[11]##*: } >= 10000 )) # 40 MB is about 10,000 pages
}

@test "loadmeter: a getrusage that fails ends it with the call's error and no figures of its record" {
    need_fault_injection
    # The program's own record (first call), then its children's (second).
    assert_fault_ends_it getrusage:error=EINVAL:when=1 \
        "getrusage: Invalid argument" \
        "$BIN/loadmeter"

    run --separate-stderr with_fault getrusage:error=EINVAL:when=2 -- "$BIN/loadmeter"
    assert_failure 1
    [ "${#lines[@]}" -eq 7 ] # the program's own block, which was sound
    [ "${lines[0]}" = "parent times" ]
    [ "${lines[6]}" = $'\tpage   swaps: '"${lines[6]##*: }" ]
    [ "$stderr" = "getrusage: Invalid argument" ]
}

# shellcheck shell=bash
# shellcheck disable=SC2154,SC2034 # root, exercise_dir, start_dir, area and the colours are set by
# ./practice; test_limit is read by the judge (tools/practice-judge.bash)
# The proof of ./practice (./check practice runs it): every exercise is provably broken, provably
# solvable, and none of its wrong mends passes. Sourced by ./practice, with the exercise reader
# and the judge.

# Prove exercises $@ (every one when none is named): each broken copy builds without a warning
# and fails its tests by an assertion in each of three runs, the shipped program passes them,
# and each wrong mend builds without a warning and fails one by an assertion. Exercises are
# proved side by side, as many as the machine has cores (most of a proof is waiting for programs
# that sleep), each in a copy of the sources of its own, and their verdicts are shown in order.
prove() {
    local names=("$@") name failed=0 reason file
    [ ${#names[@]} -gt 0 ] || mapfile -t names < <(exercise_names)
    [ ${#names[@]} -gt 0 ] || die "no exercises in $exercise_dir"
    # Runs side by side, on a machine that may be busy besides: more time for each test.
    test_limit=${SYSZOO_TEST_LIMIT:-180}
    find_shipped
    # The programs as shipped are the sources as they are now: a build of the checkout's own is
    # brought up to date first (./check practice has done so already).
    if [ -z "${SYSZOO_BIN:-}" ]; then
        cmake --build "$shipped/.." -j 2 > /dev/null || die "the build of the shipped programs failed"
    fi
    # The whole shipped set: every program has an exercise at least.
    local info=${SYSZOO_BUILD_INFO:-$shipped/../build-info} program covered=' '
    if [ $# -eq 0 ] && [ "$exercise_dir" = "$root/exercises" ] && [ -f "$info" ]; then
        for name in "${names[@]}"; do
            load_exercise "$name"
            covered+="${ex_programs[*]} "
        done
        for program in $(programs_of "$info"); do
            if [[ $covered != *" $program "* ]]; then
                printf '%sFAILED%s %-20s no exercise is about this program\n' "$red" "$plain" "$program"
                failed=1
            fi
        done
    fi
    if [ $# -eq 0 ]; then
        while read -r file; do
            reason=$(name_problem "$file")
            [ -n "$reason" ] || continue
            printf '%sFAILED%s %-20s %s\n' "$red" "$plain" "${file##*/}" "$reason"
            failed=1
        done < <(patch_files)
    fi
    local files=() lanes=() lane test
    for name in "${names[@]}"; do
        file=$(exercise_file "$name") || die "no exercise named '$name' ($me list shows them)"
        files+=("$file")
        # The network tests listen on port 5678, and the queue tests use key 0x12345: two
        # exercises whose tests do so take turns. An exercise's lanes: " port queue " at most.
        lane=' '
        read_exercise "$file"
        for test in "${ex_tests[@]}"; do
            case $(test_file_of "$test") in
                */net.bats) [[ $lane == *" port "* ]] || lane+='port ' ;;
                */ipc.bats) [[ $lane == *" queue "* ]] || lane+='queue ' ;;
            esac
        done
        lanes+=("$lane")
    done
    prove_side_by_side || failed=1
    return "$failed"
}

# Prove exercises names[k] (files[k], lanes[k]) of prove, up to a core's number at a time, none
# beside another of its lane; each verdict is shown once those before it have been.
prove_side_by_side() {
    local count=${#names[@]} jobs k j pid status shown=0 running=0 failed=0 busy lane
    local states=() trees=() tree
    jobs=$(nproc 2> /dev/null) || jobs=1
    declare -A index_of=()
    for (( k = 0; k < count; k++ )); do
        scratch_temp tree -d || die "no temporary folder"
        trees+=("$tree")
        states+=(waiting)
    done
    while (( shown < count )); do
        for (( k = 0; k < count && running < jobs; k++ )); do
            [ "${states[k]}" = waiting ] || continue
            busy=0
            for (( j = 0; j < count; j++ )); do
                [ "${states[j]}" = running ] || continue
                for lane in ${lanes[k]}; do
                    [[ ${lanes[j]} == *" $lane "* ]] && busy=1
                done
            done
            [ "$busy" -eq 0 ] || continue
            prove_in_background "${names[k]}" "${files[k]}" "${trees[k]}" &
            index_of[$!]=$k
            states[k]=running
            running=$(( running + 1 ))
        done
        pid=''
        wait -n -p pid
        status=$?
        [ -n "$pid" ] || break
        k=${index_of[$pid]}
        states[k]=$status
        running=$(( running - 1 ))
        while (( shown < count )) && [[ ${states[shown]} =~ ^[0-9]+$ ]]; do
            # A job that was ended (or died) before its verdict was whole has none.
            if [ -e "${trees[shown]}/done" ]; then
                cat "${trees[shown]}/verdict"
            else
                printf '%sFAILED%s %-20s the proof ended without a verdict (status %d)\n' "$red" "$plain" \
                    "${names[shown]}" "${states[shown]}"
            fi
            [ "${states[shown]}" -eq 0 ] || failed=1
            shown=$(( shown + 1 ))
        done
    done
    [ "$shown" -eq "$count" ] || failed=1
    return "$failed"
}

# Prove exercise $1 (file $2) in folder $3, as a job of prove_side_by_side: the verdict in $3/verdict,
# and $3/done once it is whole.
prove_in_background() {
    own_cleanup
    prove_exercise "$@" > "$3/verdict"
    local status=$?
    touch "$3/done"
    return "$status"
}

# In a job of the background, its own cleanup: at its end, or when it is stopped, it ends what it
# started and removes what it made, and nothing of those who started it.
own_cleanup() {
    scratch=() watcher=''
    trap cleanup EXIT
    trap 'stopped 130' INT
    trap 'stopped 143' TERM
    trap 'stopped 129' HUP
}

# Prove exercise $1 (file $2) with a copy of the sources in folder $3: its verdict on a line.
prove_exercise() {
    local name=$1 file=$2 tree=$3 start=$SECONDS problems reason i
    problems=$(lint_file "$file" no-suite)
    if [ -n "$problems" ]; then
        problems=${problems//"${file##*/}: "/}
        problems=${problems//"${file##*/} "/}
        printf '%sFAILED%s %-20s %s\n' "$red" "$plain" "$name" "${problems//$'\n'/; }"
        return 1
    fi
    copy_sources "$tree/src" || { printf '%sFAILED%s %-20s cannot copy the sources\n' "$red" "$plain" "$name"; return 1; }
    read_exercise "$file"
    proof_stage "building the broken copy"
    reason='' proved_broken=''
    prove_broken "$tree" || reason=$proof_reason
    for (( i = 1; i <= ${#ex_wrongs[@]} && ${#reason} == 0; i++ )); do
        prove_wrong "$tree" "$i" || reason=$proof_reason
    done
    if [ -n "$reason" ]; then
        printf '%sFAILED%s %-20s %s\n' "$red" "$plain" "$name" "$reason"
        return 1
    fi
    printf '%sproved%s %-20s broken: %s of %d tests failed in each of 3 runs; %d wrong mends fail; shipped: all pass (%ds)\n' \
        "$green" "$plain" "$name" "$proved_broken" ${#ex_tests[@]} ${#ex_wrongs[@]} $(( SECONDS - start ))
}

# Say on standard error that stage $1 of the proof of exercise $name starts: the whole proof of an
# exercise takes minutes.
proof_stage() {
    printf 'proving %s: %s...\n' "$name" "$1" >&2
}

# Apply diff $2 of the exercise (0 the fault, N a wrong mend) to the sources in $1/src, or take it
# out again when $3 is "out". Whatever part of a patch that fails went in goes out again.
proof_patch() {
    local direction=(-N)
    [ "${3:-}" = out ] && direction=(-R)
    if ! exercise_diff "$2" | patch -p1 -s "${direction[@]}" -F 0 --no-backup-if-mismatch -r - -d "$1/src" > "$1/patch.log" 2>&1; then
        rm -rf "${1:?}/src"
        copy_sources "$1/src"
        return 1
    fi
}

# The broken copy in tree $1: three runs of it and one of the shipped program, side by side unless
# they would share the port. Sets proved_broken (the fewest tests failed) or proof_reason.
prove_broken() {
    local tree=$1 run status failed_tests ok timeout why runs=()
    proof_reason=''
    if ! proof_patch "$tree" 0; then
        proof_reason="the patch does not apply: $(tr '\n' ' ' < "$tree/patch.log")"
        return 1
    fi
    if ! build_copy "$tree/src" "$tree/build" keep "${ex_programs[@]}"; then
        proof_reason="the broken copy does not build without a warning: $(build_complaints "$tree/build")"
    elif ! link_programs "$tree/bin" "$tree/build" "${ex_programs[@]}"; then
        proof_reason="the broken copy's programs were not built"
    else
        local together=1 test bin
        for test in "${ex_tests[@]}"; do
            [[ $(test_file_of "$test") == */net.bats ]] && together=0
        done
        [ "$together" -eq 0 ] || proof_stage "the broken copy, runs 1 to 3, and the shipped program, side by side"
        for run in 1 2 3 shipped; do
            bin=$tree/bin
            [ "$run" = shipped ] && bin=$shipped
            if [ "$together" -eq 0 ] && [ "$run" = shipped ]; then
                proof_stage "the shipped program"
            elif [ "$together" -eq 0 ]; then
                proof_stage "the broken copy, run $run of 3"
            fi
            judge_in_background "$bin" "$tree" "$run"
            [ "$together" -eq 1 ] || wait $!
        done
        wait
        for run in 1 2 3 shipped; do
            read -r status failed_tests ok timeout why < "$tree/run-$run" ||
                { proof_reason="run $run gave no verdict"; break; }
            if [ "$status" -eq 2 ]; then
                proof_reason="not judged: $why"
            elif [ "$run" = shipped ] && [ "$status" -ne 0 ]; then
                proof_reason="the shipped program does not pass: $ok passed, $failed_tests failed, $timeout out of time $why"
            elif [ "$run" != shipped ] && [ "$failed_tests" -eq 0 ]; then
                proof_reason="broken, run $run: no test failed by an assertion ($ok passed, $timeout out of time)"
            fi
            if [ -n "$proof_reason" ]; then
                sed 's/^/    /' "$tree/detail-$run"
                break
            fi
            [ "$run" = shipped ] || runs+=("$failed_tests")
        done
        proved_broken=$(printf '%s\n' "${runs[@]}" | sort -n | head -n 1)
        [ -n "$proof_reason" ] || prove_kernel "$tree"
    fi
    proof_patch "$tree" 0 out
    [ -z "$proof_reason" ]
}

# Judge programs' folder $1 in the background, the verdict in $2/run-$3 and the details in
# $2/detail-$3.
judge_in_background() {
    (
        own_cleanup
        judge "$1" show > "$2/detail-$3"
        printf '%s %s %s %s %s\n' $? "$judged_failed" "$judged_ok" "$judged_timeout" \
            "${judged_reasons[*]}" > "$2/run-$3"
    ) &
}

# The kernel check: the shipped program passes it, the broken copy in tree $1 does not.
prove_kernel() {
    local status
    kernel_problem=''
    [ -z "$ex_kernel_run" ] || proof_stage "what the kernel saw"
    kernel_check "$shipped"
    status=$?
    # Where nothing can be traced, the tests have proved what they can.
    if [ "$status" -eq 2 ]; then
        printf 'note: %s: the kernel check cannot run here: %s\n' "$name" "$kernel_problem"
    elif [ "$status" -ne 0 ]; then
        proof_reason="the shipped program fails the kernel check ($ex_kernel_says)"
    elif [ -n "$ex_kernel_run" ] && kernel_check "$1/bin"; then
        proof_reason="the kernel check passes the broken copy too ($ex_kernel_says)"
    fi
}

# Wrong mend $2 in tree $1 (the sources as shipped): it builds without a warning and fails a
# test by an assertion. Sets proof_reason when not.
prove_wrong() {
    local tree=$1 i=$2 status failed_tests ok timeout why what
    what="wrong mend $i ($(printf '%s' "${ex_wrongs[i - 1]}" | cut -c 1-60))"
    proof_reason=''
    proof_stage "wrong mend $i of ${#ex_wrongs[@]}, building"
    if ! proof_patch "$tree" "$i"; then
        proof_reason="$what does not apply to the sources as shipped: $(tr '\n' ' ' < "$tree/patch.log")"
        return 1
    fi
    if ! build_copy "$tree/src" "$tree/build" keep "${ex_programs[@]}"; then
        proof_reason="$what does not build without a warning: $(build_complaints "$tree/build")"
    elif ! link_programs "$tree/bin" "$tree/build" "${ex_programs[@]}"; then
        proof_reason="$what: its programs were not built"
    else
        proof_stage "wrong mend $i of ${#ex_wrongs[@]}, judging"
        judge_in_background "$tree/bin" "$tree" "wrong"
        wait
        read -r status failed_tests ok timeout why < "$tree/run-wrong"
        if [ "$status" -eq 2 ]; then
            proof_reason="$what: not judged: $why"
        elif [ "$failed_tests" -eq 0 ]; then
            proof_reason="$what passes: no test failed by an assertion ($ok passed, $timeout out of time)"
            sed 's/^/    /' "$tree/detail-wrong"
        fi
    fi
    proof_patch "$tree" "$i" out
    [ -z "$proof_reason" ]
}

# The first complaints of the compiler in build folder $1, on one line.
build_complaints() {
    grep -E '(error|warning):' "$1/build.log" | head -n 3 | tr '\n' ' '
}

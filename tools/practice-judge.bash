# shellcheck shell=bash
# shellcheck disable=SC2154,SC2034 # root, area, the colours are set by ./practice, which reads kernel_*
# The judge of ./practice: the programs as shipped, a learner's programs built from their copy,
# and the verdict of the project's own tests on them. Sourced by ./practice, whose variables
# (root, area, the colours, scratch) it uses.

# The time one judged test may take, in seconds: several times what the slowest needs.
test_limit=${SYSZOO_TEST_LIMIT:-60}

# Set shipped (the folder of the programs as shipped), tools and bench (the tests' helpers).
# SYSZOO_BIN names a build of one's own; otherwise build/ of the checkout, built when a program
# is missing there, or a build in the work area when the checkout cannot be written.
find_shipped() {
    if [ -n "${SYSZOO_BIN:-}" ]; then
        shipped=$SYSZOO_BIN
        [[ $shipped == /* ]] || shipped=$start_dir/$shipped
        tools=${SYSZOO_TOOLS:-$shipped/../tests}
        bench=${SYSZOO_BENCH:-$shipped/../bench}
        find_contain
        return 0
    fi
    local build=$root/build missing=0 name
    if [ -f "$build/build-info" ]; then
        for name in $(programs_of "$build/build-info"); do
            [ -x "$build/bin/$name" ] || missing=1
        done
        [ -x "$build/tests/practice_contain" ] || missing=1
    else
        missing=1
    fi
    # Brought up to date (after a pull, say) where it can be: a build that is fresh does nothing.
    if [ "$missing" -eq 0 ] && [ -w "$build" ]; then
        cmake --build "$build" -j 2 > /dev/null 2>&1 || die "the build of the shipped programs in $build failed"
    fi
    if [ "$missing" -eq 1 ]; then
        [ -w "$root" ] || build=$area/shipped-build
        printf '%sBuilding the programs as shipped (in %s), once%s\n' "$bold" "$build" "$plain"
        # Its progress as it goes: the first build takes minutes.
        { cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null &&
            cmake --build "$build" -j 2 | grep --line-buffered -E '^\[ *[0-9]+%\] Built target' |
            sed -u 's/^/  /' && [ "${PIPESTATUS[0]}" -eq 0 ]; } || die "the build of the shipped programs failed"
    fi
    shipped=$build/bin tools=$build/tests bench=$build/bench
    find_contain
}

# Set contain: what runs each judged test (tools/practice_contain.cpp), among the tests' helpers.
find_contain() {
    contain=$tools/practice_contain
    [ -x "$contain" ] || die "$contain is missing: the tests' helpers of the build are needed (SYSZOO_TOOLS names their folder)"
}

# The programs that the build whose build-info file is $1 made, one a line.
programs_of() {
    awk -F '\t' '$1 == "program" { print $2 }' "$1"
}

# Copy the checkout's sources (not its builds, nor its history) into new folder $1.
copy_sources() {
    mkdir -p "$1" || return 1
    # The copy is the learner's to write, whatever the modes of a read-only checkout.
    tar -C "$root" --exclude=./.git --exclude='./build' --exclude='./build-*' --exclude=./Testing \
        -cf - . | tar -C "$1" -xf - && chmod -R u+w "$1"
}

# The CMake target that makes program $1.
target_of() {
    case $1 in
        test) echo test_program ;;
        *) echo "$1" ;;
    esac
}

# The files of copy $1 that differ from the sources as shipped, outside the exercise's own
# files, one a line: they are not judged.
changed_elsewhere() {
    local file
    diff -rq --exclude=.git --exclude='build' --exclude='build-*' --exclude=Testing "$root" "$1" 2> /dev/null |
        sed -E "s#^Files $root/(.*) and .* differ\$#\\1#; s#^Only in $1/?(.*): (.*)\$#\\1/\\2 (added)#;
            s#^Only in $root/?(.*): (.*)\$#\\1/\\2 (deleted)#; s#^/##" |
        while IFS= read -r file; do
            [[ " ${ex_files[*]} " == *" ${file%% (*} "* ]] || printf '%s\n' "$file"
        done
}

# Make folder $2 anew the sources to judge copy $1 by: the sources as shipped, with the
# exercise's own files as the copy has them. Every other file of the copy is left out.
stage_copy() {
    local src=$1 stage=$2 file
    rm -rf "${stage:?}" && copy_sources "$stage" || return 1
    for file in "${ex_files[@]}"; do
        if [ -f "$src/$file" ]; then cp -- "$src/$file" "$stage/$file" || return 1; else rm -f -- "${stage:?}/$file"; fi
    done
}

# True when the tests' helpers of the shipped build (practice_launch, the stand-ins preloaded into
# programs) can serve a learner's programs: that build was made with the runner's settings (no
# sanitizer, coverage or other machine: a sanitized library preloaded into a plain program would
# end it), and the exercise changes none of their sources. Otherwise each build of a copy makes
# its own.
shipped_helpers_fit() {
    local cache=$tools/../CMakeCache.txt setting file
    [ -x "$tools/practice_launch" ] && [ -f "$cache" ] || return 1
    for setting in CMAKE_CXX_FLAGS:STRING= CMAKE_EXE_LINKER_FLAGS:STRING= CMAKE_SHARED_LINKER_FLAGS:STRING= \
        SYSZOO_ARCH:STRING=native SYSZOO_COVERAGE:BOOL=OFF; do
        grep -qxF -- "$setting" "$cache" || return 1
    done
    for file in "${ex_files[@]}"; do
        [[ $file == tests/* || $file == tools/* ]] && return 1
    done
    return 0
}

# Build programs $4... of source tree $1 in build folder $2 with the runner's settings, warnings
# as errors, and the tests' helpers with them unless the shipped ones fit. When $3 is "afresh",
# nothing of an earlier build is taken: the folder is the learner's to write, so an object or
# library left there (with a time newer than the sources') could be linked in; the whole build is
# made again. The messages go to $2/build.log.
build_copy() {
    local src=$1 build=$2 program targets=()
    shipped_helpers_fit || targets=(--target practice_launch --target stand_ins)
    [ "$3" != afresh ] || rm -rf "${build:?}"
    shift 3
    for program in "$@"; do targets+=(--target "$(target_of "$program")"); done
    # A build folder made for other sources (an older runner's) is made anew.
    if [ -f "$build/CMakeCache.txt" ] && ! grep -qxF "CMAKE_HOME_DIRECTORY:INTERNAL=$src" "$build/CMakeCache.txt"; then
        rm -rf "${build:?}"
    fi
    mkdir -p "$build" || return 1
    # In the background under practice_contain, as a test runs: a runner that is stopped ends the
    # build at once, instead of waiting for it.
    local status
    CI=true "$contain" bash -c "$(declare -f build_in_group build_stopped group_has_others); build_in_group \"\$@\"" \
        build_copy "$src" "$build" "${targets[@]}" > "$build/build.log" 2>&1 < /dev/null 3>&- &
    { wait $!; status=$?; } 2> /dev/null
    return "$status"
}

# Configure source tree $1 in build folder $2 and build targets $3...: run by practice_contain,
# in a session (and so a process group) of its own. A stop that practice_contain passes on is
# sent on to the whole build: cmake --build holds it back while its build runs, but make and the
# compilers end on it, and remove their temporary files as they do.
build_in_group() {
    trap build_stopped HUP TERM
    cmake -S "$1" -B "$2" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS= \
        -DCMAKE_EXE_LINKER_FLAGS= -DSYSZOO_COVERAGE=OFF &
    wait $! || exit
    cmake --build "$2" -j 2 "${@:3}" &
    wait $!
}
build_stopped() {
    trap '' HUP TERM # the stop sent to the group is not this shell's again
    kill -TERM 0
    wait
    # A compiler whose parent (make's shell) ended first is practice_contain's now, which would
    # kill it outright: it is given up to 5 s to end by itself and remove its files.
    local tries
    for (( tries = 0; tries < 50; tries++ )); do
        group_has_others || break
        sleep 0.1
    done
    exit 143
}
# True while a process of this shell's group, other than the shell, runs.
group_has_others() {
    local stat fields
    for stat in /proc/[0-9]*/stat; do
        [ "$stat" != "/proc/$$/stat" ] || continue
        { read -r fields < "$stat"; } 2> /dev/null || continue
        read -r -a fields <<< "${fields##*) }" # state, parent, group...
        [ "${fields[0]}" != Z ] && [ "${fields[2]}" = "$$" ] && return 0
    done
    return 1
}

# Show the compiler's complaints from a failed build in folder $1; the exercise's files built from
# folder $2 are named as in the learner's copy $3.
show_build_errors() {
    local file paths=()
    for file in "${ex_files[@]}"; do paths+=(-e "s#$2/$file#$3/$file#g"); done
    printf '%sThe build failed%s (warnings count as errors, as in CI):\n' "$red" "$plain"
    # The build file's own errors, with the lines that explain them; then the compiler's.
    { grep -A 4 '^CMake Error' "$1/build.log"
        grep -E '(error|warning|note):|^ +[0-9]* *\|' "$1/build.log" | grep -vE '^\[ *[0-9]+%\]'; } |
        head -n 30 | sed "${paths[@]}" -e 's/^/  /'
    echo "  (all of it: $1/build.log)"
}

# Make folder $1 the programs' folder of a judging run: every shipped program, except programs
# $3... built in build folder $2. Each of those is run through practice_launch, which leaves
# the program no descriptor of the runner's.
link_programs() {
    local bin=$1 own=$2 file name launch=$tools/practice_launch
    shift 2
    shipped_helpers_fit || launch=$own/tests/practice_launch
    rm -rf "${bin:?}" && mkdir -p "$bin/.programs" || return 1
    for file in "$shipped"/*; do
        [[ -f $file && -x $file ]] || continue
        ln -s "$file" "$bin/${file##*/}"
    done
    # The tests' helpers, the stand-ins preloaded into programs among them as built with the
    # learner's where the shipped ones do not fit.
    mkdir "$bin/.tools" || return 1
    local own_helpers=()
    shipped_helpers_fit || own_helpers=("$own"/tests/lib*.so)
    for file in "$tools"/* "${own_helpers[@]}"; do
        [[ -f $file && -x $file ]] && { ln -sf "$file" "$bin/.tools/" || return 1; }
    done
    for name in "$@"; do
        [ -x "$own/bin/$name" ] || { echo "practice: $name was not built" >&2; return 1; }
        ln -s "$own/bin/$name" "$bin/.programs/$name" &&
            rm -f "$bin/$name" && cp "$launch" "$bin/$name" || return 1
    done
}

# The bats file of the project's suite that holds test $1, by its exact name.
test_file_of() {
    grep -lF -- "@test \"$1\" {" "$root"/tests/*.bats 2> /dev/null | head -n 1
}

# A test's name as a regular expression that matches only itself.
exact_regex() {
    printf '^%s$' "$(printf '%s' "$1" | sed 's/[][\.*^$+?(){}|/]/\\&/g')"
}

# True when anything listens on TCP port 5678, at any address: the network tests need it free.
port_in_use() {
    ss -Hltn '( sport = :5678 )' 2> /dev/null | grep -q .
}

# Run test $3 of bats file $2 alone with programs' folder $1, its report in file $4/report and its
# temporary files in folder $4, in an IPC namespace of its own where one can be made, as CTest
# runs the tests. Stopped, with every process of its group, after $test_limit seconds; whatever
# it leaves running (a daemon a program started, say) is ended when it ends. The status is the
# test runner's.
run_test() {
    local start=$SECONDS status stand_ins=$tools
    [ -d "$1/.tools" ] && stand_ins=$1/.tools
    # In the background, so that an interrupted runner can stop it.
    SYSZOO_BIN=$1 SYSZOO_ROOT=$root SYSZOO_TOOLS=$stand_ins SYSZOO_BENCH=$bench \
        SYSZOO_BUILD_INFO=${SYSZOO_BUILD_INFO:-$shipped/../build-info} SYSZOO_ARCH=native TMPDIR=$4 \
        "$contain" timeout -k 5 "$test_limit" "$root/tests/private_ipc" bats --tap --filter "$(exact_regex "$3")" "$2" \
        > "$4/report" 2>&1 < /dev/null 3>&- &
    { wait $!; status=$?; } 2> /dev/null
    # Out of time: timeout's own status, or a kill after the limit.
    [ "$status" -ne 124 ] && { [ "$status" -ne 137 ] || [ $(( SECONDS - start )) -lt "$test_limit" ]; } ||
        return 124
    return "$status"
}

# Judge the exercise's named tests, one after the other, with programs' folder $1; each result is
# shown as it comes when $2 is "show". Sets judged_ok, judged_failed (by an assertion),
# judged_timeout (out of time, or ended otherwise), judged_skipped, judged_missing and
# judged_reasons (lines to show). A test passes only on the runner's own success, with one
# result that is its own. Returns 0 when every test passed, 1 when one failed by an assertion,
# 3 when one ran out of time or ended otherwise, 2 when one could not be judged (skipped,
# missing from the suite, port busy).
judge() {
    local bin=$1 show=${2:-} name file work log status line
    judged_ok=0 judged_failed=0 judged_timeout=0 judged_skipped=0 judged_missing=0
    judged_reasons=()
    # The runner's report, and its temporary files: gone with the folder, however the run ends.
    scratch_temp work -d || return 2
    log=$work/report
    for name in "${ex_tests[@]}"; do
        file=$(test_file_of "$name")
        if [ -z "$file" ]; then
            judged_missing=$(( judged_missing + 1 ))
            judged_reasons+=("the suite has no test named \"$name\"")
            continue
        fi
        if [[ $file == */net.bats ]] && port_in_use; then
            judged_skipped=$(( judged_skipped + 1 ))
            judged_reasons+=("port 5678 is in use (a server of yours?): the network tests need it")
            continue
        fi
        run_test "$bin" "$file" "$name" "$work"
        status=$?
        local plan results whole
        plan=$(grep -m 1 -E '^1\.\.[0-9]+$' "$log")
        results=$(grep -E '^(not )?ok [0-9]+ ' "$log")
        # One plan of one test, and its one result: anything else is no verdict of the runner's.
        whole=0
        [ "$plan" = 1..1 ] && [ "$(grep -cE '^(not )?ok [0-9]+ ' "$log")" -eq 1 ] && whole=1
        if [ "$status" -eq 124 ]; then
            judged_timeout=$(( judged_timeout + 1 ))
            [ "$show" = show ] && printf '  %sTIMEOUT%s %s\n' "$red" "$plain" "$name"
            judged_reasons+=("\"$name\" did not finish within ${test_limit} s, and was stopped")
        elif [ "$whole" -eq 1 ] && [ "$status" -eq 0 ] && [[ $results == "ok 1 $name # skip"* ]]; then
            judged_skipped=$(( judged_skipped + 1 ))
            line=${results#"ok 1 $name # skip"}
            line=${line# }
            line=${line#(}
            judged_reasons+=("skipped \"$name\": ${line%)}")
        elif [ "$whole" -eq 1 ] && [ "$status" -eq 0 ] && [ "$results" = "ok 1 $name" ]; then
            judged_ok=$(( judged_ok + 1 ))
            [ "$show" = show ] && printf '  %spassed%s  %s\n' "$green" "$plain" "$name"
        elif [ "$whole" -eq 1 ] && [ "$status" -eq 1 ] && [ "$results" = "not ok 1 $name" ]; then
            judged_failed=$(( judged_failed + 1 ))
            [ "$show" = show ] && { printf '  %sFAILED%s  %s\n' "$red" "$plain" "$name"; show_failure "$log"; }
        else
            judged_timeout=$(( judged_timeout + 1 ))
            [ "$show" = show ] && printf '  %sFAILED%s  %s\n' "$red" "$plain" "$name"
            if [ "$status" -gt 128 ]; then
                judged_reasons+=("\"$name\": the test runner was killed by signal $(( status - 128 )), by a program of yours?")
            elif [ "$whole" -eq 0 ]; then
                judged_reasons+=("\"$name\" ended without its result (status $status): was the test runner stopped?")
            else
                judged_reasons+=("\"$name\": the test runner ended with status $status")
            fi
        fi
    done
    rm -rf "${work:?}"
    if [ "$judged_missing" -gt 0 ] || [ "$judged_skipped" -gt 0 ]; then return 2; fi
    [ "$judged_timeout" -gt 0 ] && return 3
    [ "$judged_failed" -gt 0 ] && return 1
    return 0
}

# The details of a failed test from its report $1: its comment lines, control characters (a
# carriage return, say) made visible, as ^M.
show_failure() {
    local line
    while IFS= read -r line; do
        [[ $line == '#'* ]] || continue
        line=${line#\#}
        line=${line# }
        if [ -n "$line" ]; then printf '          %s\n' "$(printf '%s' "$line" | cat -v)"; else echo; fi
    done < <(sed -n '/^not ok 1 /,$p' "$1")
}

# What the kernel saw: run the exercise's Kernel-run command under strace, with the programs'
# folder $1 as $BIN, and look for a call that matches Kernel-expect. 0 seen, 1 not seen, 2 no
# strace here.
kernel_check() {
    [ -n "$ex_kernel_run" ] || return 0
    command -v strace > /dev/null || { kernel_problem="strace is not installed (Debian package strace)"; return 2; }
    # A message queue made outside a namespace of its own would be the learner's: not done.
    if [[ ,$ex_kernel_calls, == *,msg* ]] &&
        [ -z "$("$root/tests/private_ipc" printenv SYSZOO_PRIVATE_IPC 2> /dev/null)" ]; then
        kernel_problem="no IPC namespace of its own can be made here, and the run would touch your message queues"
        return 2
    fi
    local dir status=0
    scratch_temp dir -d || return 2
    # As the tests' fault injection finds out: where ptrace is refused, nothing can be seen. The
    # probe is traced as the command will be: with -D, strace runs the command even when it
    # cannot follow it, and says so only in an empty trace.
    strace -D -f -qq -o "$dir/probe" -e trace=uname uname > /dev/null 2>&1
    if ! grep -q '^[0-9]* *uname(' "$dir/probe" 2> /dev/null; then
        kernel_problem="strace cannot trace here"
        rm -rf "${dir:?}"
        return 2
    fi
    # strace follows every process the command starts, and waits for each: a daemon the program
    # leaves would keep it (and the learner) waiting up to the outer limit. With -D the command
    # itself runs in strace's process, and the tracer is a process of its own that
    # practice_contain adopts: once the command has ended, its calls are all in the trace, and
    # practice_contain ends what is left, tracer and daemon. Calls made after that do not count.
    # In the background, so that an interrupted runner can stop it at once (as run_test does).
    (
        cd "$dir" && BIN=$1 exec "$contain" timeout -k 5 40 "$root/tests/private_ipc" strace -D -f -qq -o "$dir/trace" \
            -e trace="$ex_kernel_calls" -- timeout -k 5 30 bash -c "$ex_kernel_run" \
            > /dev/null 2>&1 < /dev/null 3>&-
    ) &
    wait $! 2> /dev/null
    if ! sed -E 's/^[0-9]+ +//' "$dir/trace" | grep -qE -- "$ex_kernel_expect"; then
        kernel_seen=$(sed -E 's/^[0-9]+ +//' "$dir/trace" | grep -E "^(${ex_kernel_calls//,/|})\(" | head -n 3)
        status=1
    fi
    rm -rf "${dir:?}"
    return "$status"
}

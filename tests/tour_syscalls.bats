#!/usr/bin/env bats
# The tour's kernel view (--syscalls) on quick stops, its stepping (--step) through a
# pseudo-terminal, and the source pointer of each stop.
# ctest: TIMEOUT 720 COST 115 SCRIPT CALLS PRIVATE_IPC PRIVATE_NET port_5678 message_queue_0x12345

load helper

setup() {
    tour_setup
}

teardown() {
    tour_teardown
}

need_tracing() {
    command -v strace > /dev/null || skip "strace is not installed (Debian package strace)"
    local err
    err=$(strace -f -o /dev/null -- true 2>&1) ||
        skip "strace cannot trace here (${err%%$'\n'*}): the kernel's view cannot be shown"
}

# The tour's output without its kernel blocks (from "What the kernel saw" to the blank line
# that ends the stop, but for the stop's last command, which removes its files) and with the
# names of its temporary files made alike.
without_kernel_view() {
    sed -e '/^What the kernel saw/,/^$/{/^$/!{/^\$ rm /!d}}' \
        -e 's/tour\.[0-9]*\.[A-Za-z0-9]\{6\}/tour.X/g; s/attrmark\.[A-Za-z0-9]\{6\}/attrmark.X/g; s/marked\.[A-Za-z0-9]\{6\}/marked.X/g'
}

@test "--syscalls shows each quick stop's lesson in its own calls, and nothing is left behind" {
    need_tracing
    claim_queue_key
    run --separate-stderr tour --syscalls client charcopy attrmark farewell shellrun postbox relay
    assert_success
    [ "$(grep -c '^What the kernel saw' <<< "$output")" -eq 7 ]
    # client: the connect that returns at once, the outcome read from the socket, one write
    assert_line --regexp '^  [0-9]+ +connect\([0-9]+, .*\) = -1 EINPROGRESS \(Operation now in progress\)$'
    assert_line --regexp '^  [0-9]+ +getsockopt\([0-9]+, SOL_SOCKET, SO_ERROR, \[0\], \[4\]\) += 0$'
    assert_line --regexp '^  [0-9]+ +getsockopt\([0-9]+, SOL_SOCKET, SO_ERROR, \[ECONNREFUSED\], \[4\]\) += 0$'
    # sendto on x86-64; a 32-bit program has a send call of its own
    assert_line --regexp '^  [0-9]+ +send(to)?\([0-9]+, "TCP TEST\\n\\0", 10, MSG_NOSIGNAL(, NULL, 0)?\) += 10$'
    # charcopy: whole buffers, not characters; the failed write of a full buffer
    assert_line --regexp '^  [0-9]+ +read\(0, ".*"\.\.\., 4096\) += 4096$'
    assert_line --regexp '^  [0-9]+ +write\(1, ".*"\.\.\., 4096\) += -1 ENOSPC '
    # attrmark: the one request, refused on tmpfs
    # a 32-bit program's request has a name of its own: FS_IOC32_SETFLAGS
    assert_line --regexp '^  [0-9]+ +ioctl\([0-9]+, FS_IOC(32)?_SETFLAGS, \[FS_SYNC_FL\|FS_NODUMP_FL\]\) += '
    if [ "$(stat -f -c %T /dev/shm 2> /dev/null)" = tmpfs ]; then
        assert_line --regexp '^  [0-9]+ +ioctl\([0-9]+, FS_IOC(32)?_SETFLAGS, .* = -1 EOPNOTSUPP '
    fi
    # farewell: one write of all four lines, then the end: nothing else kept
    [ "$(awk -v start="  \$ $(shown_bin)/farewell" '$0 == start { on = 1; next }
            on && /^  \(left out/ { exit } on' <<< "$output" |
        sed -E 's/^  [0-9]+ +//; s/ += / = /')" = \
        'write(1, "main is done\nfirst exit handler\n"..., 71) = 71
exit_group(0) = ?' ]
    # shellrun: the shell started with -c, and the status it hands back
    assert_line --regexp '^  [0-9]+ +execve\("/bin/sh", \["sh", "-c", ("--", )?"ls /no/such/folder"\]'
    assert_line --regexp 'wait4[ (].*\[\{WIFEXITED\(s\) && WEXITSTATUS\(s\) == 2\}\], 0, NULL\) = [0-9]+$'
    # postbox
    assert_line --regexp '^  [0-9]+ +msgget\(0x12345, IPC_CREAT\|0666\) += [0-9]+$'
    # relay runs under gdb, which is its tracer
    assert_line --partial "What the kernel saw: not traced: relay runs under gdb"
    # runs of like lines are counted, the calls left out are named
    assert_line --regexp '^  \(left out: [0-9]+ other calls: mmap2? [0-9]+, ' # mmap2: 32-bit
    tour_left_nothing "$mark"
}

@test "tracing changes nothing the stops show" {
    need_tracing
    run --separate-stderr tour charcopy attrmark farewell blank
    assert_success
    plain=$(without_kernel_view <<< "$output")
    run --separate-stderr tour --syscalls charcopy attrmark farewell blank
    assert_success
    assert_line --regexp 'ioctl\(3, FS_IOC(32)?_SETFLAGS'
    [ "$(without_kernel_view <<< "$output")" = "$plain" ]
    tour_left_nothing "$mark"
}

@test "the runs shown and the answers they decide are untraced: the same with --syscalls, the traced run apart and said so" {
    need_tracing
    # Traced, spill is refused a twentieth as often, and loadmeter's figures change: the runs
    # that decide the answers must be the ones a learner gets by hand.
    run --separate-stderr tour --predict spill loadmeter < /dev/null
    assert_success
    plain=$(grep '^Answer: ' <<< "$output")
    assert_line --partial "Answer: d) 10000 or more."
    run --separate-stderr tour --predict --syscalls spill loadmeter < /dev/null
    assert_success
    [ "$(grep '^Answer: ' <<< "$output")" = "$plain" ]
    # the kernel's view comes from another run, and says so; spill's stop says why it differs
    [ "$(grep -c '^What the kernel saw (the commands run once more, the program under strace; ' <<< "$output")" -eq 2 ]
    tr '\n' ' ' <<< "$output" | grep -qF "Traced, spill is refused far fewer times than in the run above"
    tour_left_nothing "$mark"
}

@test "the server's lines still come as they happen under tracing, and the spill refusals are counted" {
    need_tracing
    run --separate-stderr tour --syscalls server spill
    assert_success
    # each [server] line comes before the shown command that follows it, as without tracing
    [ "$(grep -n -e '^  \[server\] read:TCP TEST$' -e '^\$ printf' <<< "$output" | cut -d: -f2- |
        head -n 2)" = $'  [server] read:TCP TEST\n$ printf \'%0600d\' 0 > /dev/tcp/127.0.0.1/5678' ]
    assert_line --regexp '^  [0-9]+ +(_new)?p?select[a-z0-9_]*\([0-9]+, \[[0-9]+\], NULL, NULL, NULL(, NULL)?\) += 1 \(in \[[0-9]+\]\)$'
    assert_line --regexp '^  [0-9]+ +read\([0-9]+, ".*"\.\.\., 256\) += 88$'
    assert_line --regexp '^  [0-9]+ +bind\(3, .*\) = -1 EADDRINUSE '
    # perror's line on the server's terminal goes through the copy of 2 that dup returned
    fd=$(sed -nE 's/^  [0-9]+ +dup\(2\) += ([0-9]+)$/\1/p' <<< "$output" | head -n 1)
    [ -n "$fd" ]
    assert_line --regexp "^  [0-9]+ +write\\($fd, \"bind: Success\\\\n\", 14\\) += 14\$"
    assert_line "  (descriptor $fd is the copy of 2 that dup made: perror writes through it)"
    # spill: the pipe takes 64 KiB, then the refusals, listed once and counted
    assert_line --regexp '^  [0-9]+ +write\(1, ".*"\.\.\., 100000\) += 65536$'
    assert_line --regexp '^  [0-9]+ +fcntl(64)?\(1, F_SETFL, O_WRONLY\|O_NONBLOCK\) += 0$' # fcntl64: 32-bit
    # Each run of refusals is one line and its count. A reader that drains the pipe in parts lets
    # a write through between two runs, so a busy machine can show more than one run.
    grep -E '^  [0-9]+ +write\(1,|^  … ' <<< "$output" # shown should the lines below fail
    [ "$(grep -c '= -1 EAGAIN' <<< "$output")" -ge 1 ]
    awk '/= -1 EAGAIN/ { if (after) bad = 1; after = 1; next } { after = 0 } END { exit bad }' <<< "$output"
    assert_line --regexp '^  … [0-9]+ more like this$'
    tour_left_nothing "$mark"
}

@test "where strace cannot trace, one line says so and the tour goes on" {
    fake=$BATS_TEST_TMPDIR/fake
    mkdir "$fake"
    printf '#!/bin/sh\necho "strace: ptrace(PTRACE_TRACEME, ...): Operation not permitted" >&2\nexit 1\n' \
        > "$fake/strace"
    chmod +x "$fake/strace"
    PATH=$fake:$PATH run --separate-stderr tour --syscalls farewell blank
    assert_success
    [ "$(grep -c '^What the kernel saw' <<< "$output")" -eq 2 ]
    assert_line "What the kernel saw: nothing to show: strace cannot trace here (strace: ptrace(PTRACE_TRACEME, ...): Operation not permitted)."
    assert_line "second exit handler"
    assert_line "status 0"
    assert_line "End of the tour."
    tour_left_nothing "$mark"
}

@test "each stop names its source file and where to start reading" {
    run --separate-stderr tour samples farewell
    assert_success
    assert_line "Source: proc/farewell.cpp: main, then my_exit1 and my_exit2"
    assert_line "Source: samples/test.cpp: main"
    # every stop names where to start reading
    for name in $(built_programs); do
        grep -q '^read_first "[^"]' "$ROOT/$(program_field "$name" 3)/$name.tour"
    done
}

# Run the tour with arguments $@ on a pseudo-terminal (script) in the background, its output in
# $out, its input written through descriptor 4 by answer_at; $step_pid is script's PID.
step_tour() {
    out=$BATS_TEST_TMPDIR/out
    mkfifo "$BATS_TEST_TMPDIR/input"
    NO_COLOR=1 SYSZOO_MARK=$mark timeout 60 script -qec "'$ROOT/tour' --step $*" /dev/null \
        < "$BATS_TEST_TMPDIR/input" > "$out" 3>&- &
    step_pid=$!
    exec 4> "$BATS_TEST_TMPDIR/input"
}

# Once line $1 has shown $2 times, type $3 and Enter.
answer_at() {
    wait_until "[ \$(grep -c '$1' '$out') -ge $2 ]" 30
    printf '%s\n' "$3" >&4
}

@test "--step waits for Enter after each stop on a terminal, and q ends the tour cleanly" {
    command -v script > /dev/null || skip "script (bsdutils) is not installed"
    # Enter after farewell, q after test (the tour's order): blank is never shown.
    step_tour farewell blank test
    answer_at 'press Enter for the next stop, r to run this stop again, q to quit' 1 ''
    answer_at 'press Enter for the next stop, r to run this stop again, q to quit' 2 q
    exec 4>&-
    wait_bounded "$step_pid" 30
    tr -d '\r' < "$out" > "$out.lines"
    [ "$(grep -c 'press Enter for the next stop, r to run this stop again, q to quit' "$out.lines")" -eq 2 ]
    grep -q '^-- farewell' "$out.lines"
    grep -q '^-- test' "$out.lines"
    run ! grep -q '^-- blank' "$out.lines"
    grep -q '(the tour ends here, as asked)' "$out.lines"
    grep -q '^End of the tour\.$' "$out.lines"
    tour_left_nothing "$mark"

    # Without a terminal it runs straight through.
    run --separate-stderr tour --step farewell blank < /dev/null
    assert_success
    refute_output --partial "press Enter"
    assert_line "status 0"
}

@test "--step: an Enter typed while a stop runs does not answer the pause after it" {
    command -v script > /dev/null || skip "script (bsdutils) is not installed"
    step_tour catcher blank
    answer_at '^-- catcher' 1 '' # typed ahead, while catcher waits for its signals
    answer_at 'press Enter for the next stop, r to run this stop again, q to quit' 1 q
    exec 4>&-
    wait_bounded "$step_pid" 30
    tr -d '\r' < "$out" > "$out.lines"
    grep -q '(the tour ends here, as asked)' "$out.lines"
    run ! grep -q '^-- blank' "$out.lines"
    tour_left_nothing "$mark"
}

@test "--step=command also pauses before each command; r runs the stop again, whatever it has started, q quits, and Ctrl-C at a pause ends the tour" {
    # catcher: its command, then r where it waits for its signals; once more: its command, q
    run env SYSZOO_MARK="$mark" NO_COLOR=1 perl "$ROOT/tests/answer_on_pty.pl" 'press Enter' '' r '' q -- \
        "$ROOT/tour" --step=command catcher blank 3>&-
    assert_success
    [ "$(grep -c '^(press Enter to run the next command, r to run this stop again, q to quit)' <<< "$output")" -eq 4 ]
    [ "$(grep -c '^-- catcher' <<< "$output")" -eq 2 ]
    [ "$(grep -c '^\$ .*/catcher &$' <<< "$output")" -eq 2 ]
    refute_output --partial "received SIGUSR" # the rest of the first run was left, nothing of it shown
    assert_line "(the stop once more, as asked)"
    assert_line "(the tour ends here, as asked)"
    refute_output --partial "-- blank"
    tour_left_nothing "$mark"
    # after a stop: r runs it again, Enter goes on
    run env SYSZOO_MARK="$mark" NO_COLOR=1 perl "$ROOT/tests/answer_on_pty.pl" 'press Enter' r '' -- \
        "$ROOT/tour" --step farewell blank 3>&-
    assert_success
    [ "$(grep -c '^second exit handler$' <<< "$output")" -eq 2 ]
    assert_line "status 0"
    tour_left_nothing "$mark"
    # a Ctrl-C that comes just before the pause begins to wait, nothing typed after
    run env SYSZOO_MARK="$mark" NO_COLOR=1 perl "$ROOT/tests/answer_on_pty.pl" --limit 30 'press Enter' '(nothing)' -- \
        env LD_PRELOAD="$TOOLS/libinterrupt_at_read.so" bash "$ROOT/tour" --step farewell blank 3>&-
    assert_failure 130
    assert_line "second exit handler"
    assert_line "tour interrupted; stopping what it started"
    refute_output --partial "-- blank"
    tour_left_nothing "$mark"
}

@test "--syscalls with --step=command: the run once more waits for no Enter, and the file it shares is its own" {
    need_tracing
    # the temporary files of the commands, shown and run once more, where they can be counted
    export TMPDIR=$BATS_TEST_TMPDIR/tmp
    mkdir "$TMPDIR"
    # charcopy shows seven commands, the last its rm: an Enter before each
    run env SYSZOO_MARK="$mark" NO_COLOR=1 perl "$ROOT/tests/answer_on_pty.pl" 'press Enter' '' '' '' '' '' '' '' -- \
        "$ROOT/tour" --step=command --syscalls charcopy 3>&-
    assert_success
    [ "$(grep -c '^(press Enter to run the next command, r to run this stop again, q to quit)' <<< "$output")" -eq 7 ]
    refute_output --partial "(the tour ends here, as asked)"
    # the run once more ran every command up to the view: its reads of the numbers are there
    assert_line --regexp '^  [0-9]+ +read\(0, ".*"\.\.\., 4096\) += 4096$'
    # the shown run's file was there for its last command, and every file made is gone
    assert_line --regexp '^\$ rm "\$numbers"$'
    refute_output --partial "No such file"
    [ -z "$(ls -A "$TMPDIR")" ]
    tour_left_nothing "$mark"
}

# The kernel block of stop $1 in the tour's output on standard input.
kernel_block() {
    awk -v stop="-- $1:" 'index($0, stop) == 1 { on = 1 } on && /^What the kernel saw/ { block = 1 }
        block && /^$/ { exit } block'
}

@test "the kernel's view hides nothing of a race, and explains or leaves out what the lesson is not about" {
    need_tracing
    run --separate-stderr tour --syscalls catcher interleave
    assert_success
    # catcher installs its handler with sigaction, which is what the block says
    block=$(kernel_block catcher <<< "$output")
    grep -qE '^  [0-9]+ +rt_sigaction\(SIGUSR1, \{sa_handler=[^,]*, sa_mask=\[USR1 USR2\], sa_flags=[A-Z_|]*SA_RESTART' <<< "$block"
    grep -q 'sigaction() call is one rt_sigaction' <<< "$block"
    [[ $block != *'signal()'* ]] # ($output stays the tour's: no run here)
    # interleave: one write of one byte per character printed, every one of them listed
    block=$(kernel_block interleave <<< "$output")
    # (37 of them: "output from child" and "output from parent", with their newlines)
    [ "$(grep -cE '^  [0-9]+ +write\(1, ".{1,2}", 1(\) += 1| <unfinished \.\.\.>)$' <<< "$block")" -eq 37 ]
    [[ $block != *'more like this'* ]]
    tour_left_nothing "$mark"
}

@test "pairjoin's and pairhalt's kernel views show the joins' futex waits, not a wait for stdio's lock" {
    # Whether a thread finds stdio's lock taken is up to the scheduler: a stand-in for strace
    # writes a trace where one did, and runs the program untraced.
    fake=$BATS_TEST_TMPDIR/fake
    mkdir "$fake"
    cat > "$fake/trace" << 'TRACE'
500   clone3({flags=CLONE_VM|CLONE_FS|CLONE_FILES|CLONE_SIGHAND|CLONE_THREAD|CLONE_SYSVSEM|CLONE_SETTLS|CLONE_PARENT_SETTID|CLONE_CHILD_CLEARTID, child_tid=0x7f0000002990, parent_tid=0x7f0000002990, exit_signal=0, stack=0x7f0000000000, stack_size=0x7fff00, tls=0x7f00000026c0} => {parent_tid=[501]}, 88) = 501
500   clone3({flags=CLONE_VM|CLONE_FS|CLONE_FILES|CLONE_SIGHAND|CLONE_THREAD|CLONE_SYSVSEM|CLONE_SETTLS|CLONE_PARENT_SETTID|CLONE_CHILD_CLEARTID, child_tid=0x7f0000004990, parent_tid=0x7f0000004990, exit_signal=0, stack=0x7f0000003000, stack_size=0x7fff00, tls=0x7f00000046c0} => {parent_tid=[502]}, 88) = 502
502   futex(0x7f0000009a70, FUTEX_WAIT_PRIVATE, 2, NULL) = 0
500   futex(0x7f0000004990, FUTEX_WAIT_BITSET|FUTEX_CLOCK_REALTIME, 502, NULL, FUTEX_BITSET_MATCH_ANY) = 0
502   exit(0)                           = ?
500   futex(0x7f0000002990, FUTEX_WAIT_BITSET|FUTEX_CLOCK_REALTIME, 501, NULL, FUTEX_BITSET_MATCH_ANY) = 0
501   exit(0)                           = ?
500   write(1, "task2 count: 0\n", 15) = 15
500   exit_group(0)                     = ?
TRACE
    printf '#!/bin/sh\n# strace -f -A -o FILE [-E ...] -- COMMAND...\nwhile [ "$1" != -- ]; do [ "$1" = -o ] && out=$2; shift; done\nshift\n[ "${out:-/dev/null}" = /dev/null ] || cat "%s" > "$out"\nexec "$@"\n' \
        "$fake/trace" > "$fake/strace"
    chmod +x "$fake/strace"
    for name in pairjoin pairhalt; do
        PATH=$fake:$PATH run --separate-stderr tour --syscalls "$name"
        assert_success
        assert_line --regexp "^total iterations: (10|5|6)\$"
        [ "$(grep -c 'FUTEX_WAIT_BITSET' <<< "$output")" -eq 2 ]
        refute_output --partial FUTEX_WAIT_PRIVATE
        assert_line --regexp '^  \(left out: [0-9]+ other calls?: .*futex 1'
        [[ $(tr '\n' ' ' <<< "$output") == *"stdio's lock"* ]] # and the text says why
    done
    tour_left_nothing "$mark"
}

@test "the README's --syscalls example is the client stop's as the tour shows it now" {
    need_tracing
    run --separate-stderr tour --syscalls client
    assert_success
    # process IDs, ports and the loader's calls left out vary; the order of a command's lines on
    # standard output and standard error, and the note on it, is the kernel's to choose
    mask() {
        without_order_notes | sed -E 's/\b[0-9]{4,}\b/N/g; s/^(  \(left out: )[0-9]+ other calls.*/\1.../; s/  +/ /g'
    }
    sed -n '/^    -- client: /,/^$/p' "$ROOT/README.md" | sed -e 's/^    //' -e '/^$/d' | mask > "$BATS_TEST_TMPDIR/readme"
    # The example is a 64-bit run: where the 32-bit C library sends with send, the call is the
    # same as the sendto with no address that the example shows.
    as_native() {
        if [ "${SYSZOO_ARCH:-native}" = i386 ]; then
            sed -E 's/^( *N +)send\((.*)\) += /\1sendto(\2, NULL, 0) = /'
        else
            cat
        fi
    }
    sed -n '/^-- client: /,/^$/p' <<< "$output" | sed -e "s|$(shown_bin)/|build/bin/|g" -e '/^$/d' | mask |
        as_native > "$BATS_TEST_TMPDIR/tour"
    [ "$(grep -c 'connect(3' "$BATS_TEST_TMPDIR/readme")" -eq 2 ]
    diff <(sort "$BATS_TEST_TMPDIR/readme") <(sort "$BATS_TEST_TMPDIR/tour")
    diff <(grep -v '^! \|^error:' "$BATS_TEST_TMPDIR/readme") <(grep -v '^! \|^error:' "$BATS_TEST_TMPDIR/tour")
}

@test "under --syscalls a shown run has no tracer; only the run once more for the kernel's view has" {
    need_tracing
    fake_programs
    stand_in oldstyle 'echo "tracer $(awk '\''/^TracerPid:/ { print $2 }'\'' "/proc/$$/status")"'
    SYSZOO_BIN=$fake/bin SYSZOO_BUILD_INFO=$BUILD_INFO run --separate-stderr tour --syscalls oldstyle
    assert_success
    assert_line "tracer 0"
    assert_line --regexp '^What the kernel saw \(the commands run once more'
    tour_left_nothing "$mark"
}

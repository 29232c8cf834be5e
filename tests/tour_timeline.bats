#!/usr/bin/env bats
# The stops' timelines (--timeline, and on the page of --html): the parser on real traces of
# every stop, whole and cut or split at random points; each stop's lanes and arrows; stand-ins
# that change a program change its timeline; the drawings fit the terminal and the page.
# ctest: TIMEOUT 1800 COST 533 SCRIPT CALLS PRIVATE_IPC PRIVATE_NET port_5678 message_queue_0x12345

load helper

setup() {
    tour_setup
    timeline=$ROOT/tools/tour-timeline.pl
}

teardown() {
    tour_teardown
}

# The traces a real tour made, one folder per stop (tests/timeline/*.tar.gz: Debian's strace of
# each release the archive names), unpacked into $traces/RELEASE/STOP.
unpack_traces() {
    local archive release
    traces=$BATS_TEST_TMPDIR/traces
    for archive in "$ROOT"/tests/timeline/*.tar.gz; do
        release=$(basename "$archive" .tar.gz)
        mkdir -p "$traces/$release"
        tar -xzf "$archive" -C "$traces/$release"
    done
}

# The trace files of stop folder $1, in the order the tour made them.
trace_files() {
    find "$1" -type f ! -name '*.command' | sort -V
}

# The timeline of stop folder $1 in mode $2 (--structure, --text...), further options after.
timeline_of() {
    local folder=$1 mode=$2
    shift 2
    # shellcheck disable=SC2046 # file names without spaces, made by the tour
    perl "$timeline" --stop "$(basename "$folder")" "$mode" "$@" -- $(trace_files "$folder")
}

# True when the stop of folder $1 has a timeline: the others say why not in one line.
has_timeline() {
    [[ $(timeline_of "$1" --events) != timeline-none* ]]
}

# A folder for hand-made traces of stop $1, its program's command in 1.command: $folder.
hand_made() {
    folder=$BATS_TEST_TMPDIR/$1
    mkdir -p "$folder"
    echo "build/bin/$1" > "$folder/1.command"
}

# How many lines the trace files of stop folder $1 hold, a last one cut short included.
line_count() {
    # shellcheck disable=SC2046 # file names without spaces, made by the tour
    perl -ne '$n++; END { print $n + 0 }' $(trace_files "$1")
}

@test "every line of every stop's real trace is placed on the timeline or left out by a rule" {
    unpack_traces
    local folder lines audit
    for folder in "$traces"/*/*; do
        run --separate-stderr timeline_of "$folder" --audit
        assert_success
        [ -z "$stderr" ]
        audit=$output
        run ! grep -P '\tunexplained\t' <<< "$audit"
        # one verdict a line, none lost
        lines=$(line_count "$folder")
        [ "$lines" -eq "$(grep -c '' <<< "$audit")" ] || { echo "$folder: $lines lines, $(grep -c '' <<< "$audit") audited"; return 1; }
        # a whole trace has the beginning of every call it resumes
        run ! grep -P '\tleft out: the resumed end' <<< "$audit"
        # the calls the lesson turns on are placed, not left out (strace pads a short PID)
        run ! grep -P '\tleft out: a call that carries.*\t\d+ +\S+ (clone3?|fork|vfork|wait4|kill|tgkill|connect|accept4?|msgget|msgctl)\(' <<< "$audit"
    done
    # the bytes strace dumps after a write are that write's: farewell's last line, past the 32
    # bytes of its quoted string, is drawn
    for folder in "$traces"/*/farewell; do
        timeline_of "$folder" --audit | grep -q $'\tplaced with the write whose bytes it shows\t | 00040 '
        timeline_of "$folder" --text | grep -q '“second exit handler”'
    done
}

@test "the timeline needs nothing but perl's base, which a minimal Debian has without perl's modules" {
    perl -e 'exit !grep { m{/perl-base\z} } @INC' || skip "this perl has no perl-base folder of its own"
    unpack_traces
    local folder
    for folder in "$traces"/*/{farewell,server}; do
        # shellcheck disable=SC2046 # file names without spaces, made by the tour
        run perl -e 'BEGIN { @INC = grep { m{/perl-base\z} } @INC } $0 = shift; -r $0 or die "$0: $!\n"; do $0; die $@ if $@' \
            "$timeline" --stop "$(basename "$folder")" --events -- $(trace_files "$folder")
        assert_success
        assert_line --partial "timeline-svg"
    done
}

@test "a trace cut at any byte or with a call split around another process's line loses no line and invents no arrow" {
    unpack_traces
    local folder file seed whole changed lines
    for folder in "$traces"/*/{catcher,interleave,pairhalt,pairjoin,shellrun,server,postinfo}; do
        whole=$(timeline_of "$folder" --structure | grep '^arrow' | sort)
        # two cuts that are the same in every run (21442 splits pairhalt's tgkill between its
        # arguments), one that differs
        for seed in 1 21442 "$RANDOM"; do
            for how in cut split; do
                changed=$BATS_TEST_TMPDIR/changed/$how/$(basename "$folder")
                rm -rf "$changed"
                mkdir -p "$changed"
                cp "$folder"/*.command "$changed/"
                for file in $(trace_files "$folder"); do
                    perl "$ROOT/tests/timeline_mangle.pl" "$how" "$seed" "$file" > "$changed/${file##*/}" || [ $? -eq 3 ]
                done
                run --separate-stderr timeline_of "$changed" --audit
                [ "$status" -eq 0 ] || { echo "$how $seed $folder: audit status $status"; echo "$output"; return 1; }
                [ -z "$stderr" ] || { echo "$how $seed $folder: $stderr"; return 1; }
                lines=$(line_count "$changed")
                [ "$(grep -c '' <<< "$output")" -eq "$lines" ] || { [ "$lines" -eq 0 ] && [ -z "$output" ]; } || { echo "$how $seed $folder: lines lost"; return 1; }
                if [ "$how" = split ]; then # the same arrows; cut: some of them, none new
                    [ "$(timeline_of "$changed" --structure | grep '^arrow' | sort)" = "$whole" ] ||
                        { echo "split $seed $folder: other arrows"; return 1; }
                else
                    [ -z "$(comm -13 <(echo "$whole") <(timeline_of "$changed" --structure | grep '^arrow' | sort))" ] ||
                        { echo "cut $seed $folder: an arrow the whole trace does not have"; return 1; }
                fi
            done
        done
    done
}

# The structure of stop $1's timeline in every release's traces is standard input. With $2
# "threads", the arrows may come in any order (lanes may not): which of two threads the
# scheduler runs first, and which ends first, varies from run to run.
assert_structure() {
    local expected folder
    expected=$(cat)
    for folder in "$traces"/*/"$1"; do
        run timeline_of "$folder" --structure
        assert_success
        if [ "${2:-}" = threads ]; then
            assert_equal "$(grep '^lane ' <<< "$output")" "$(grep '^lane ' <<< "$expected")"
            assert_equal "$(grep '^arrow ' <<< "$output" | sort)" "$(grep '^arrow ' <<< "$expected" | sort)"
        else
            assert_output "$expected"
        fi
    done
}

@test "each stop's timeline: its lanes, named as the learner knows them, and its arrows in order" {
    unpack_traces
    assert_structure catcher << 'END'
lane catcher
lane the tour's kill
arrow signal: the tour's kill -> catcher
arrow signal: the tour's kill -> catcher
arrow signal: the tour's kill -> catcher
arrow signal: the tour's kill -> catcher
END
    assert_structure client << 'END'
lane server
lane client
lane the tour's kill
arrow connect: client -> server
arrow data: client -> server
arrow signal: the tour's kill -> server
END
    assert_structure server << 'END'
lane server
lane client
lane the tour's printf
lane server, run 2
lane the tour's kill
arrow connect: client -> server
arrow data: client -> server
arrow connect: the tour's printf -> server
arrow data: the tour's printf -> server
arrow data: the tour's printf -> server
arrow data: the tour's printf -> server
arrow signal: the tour's kill -> server
END
    assert_structure farewell <<< 'lane farewell'
    assert_structure interleave << 'END'
lane interleave
lane child
arrow fork: interleave -> child
END
    local stop
    for stop in shellrun loadmeter tickmeter; do
        local ran='grep'
        [ "$stop" = shellrun ] && ran='ls'
        assert_structure "$stop" << END
lane $stop
lane the shell of system()
lane $ran
arrow fork: $stop -> the shell of system()
arrow fork: the shell of system() -> $ran
arrow reap: $ran -> the shell of system()
arrow reap: the shell of system() -> $stop
END
    done
    assert_structure pairhalt threads << 'END'
lane pairhalt
lane thread task1
lane thread task2
arrow thread: pairhalt -> thread task1
arrow thread: pairhalt -> thread task2
arrow cancel: pairhalt -> thread task1
arrow join: thread task1 -> pairhalt
arrow join: thread task2 -> pairhalt
END
    assert_structure pairjoin threads << 'END'
lane pairjoin
lane thread task1
lane thread task2
arrow thread: pairjoin -> thread task1
arrow thread: pairjoin -> thread task2
arrow join: thread task2 -> pairjoin
arrow join: thread task1 -> pairjoin
END
    assert_structure postbox << 'END'
lane postbox
lane ipcs
END
    assert_structure postinfo << 'END'
lane postbox
lane postinfo
lane ipcrm
arrow queue: postbox -> postinfo
arrow queue: postbox -> ipcrm
END
}

@test "the text drawing fits the width it is given, 80 columns at least, and marks each arrow where it lands" {
    unpack_traces
    local folder width longest froms widest
    for folder in "$traces"/*/*; do
        has_timeline "$folder" || continue
        for width in 132 80 60; do
            run timeline_of "$folder" --text --width "$width" --filter .
            assert_success
            longest=$(perl -CS -ne 'chomp; $m = length if length > $m; END { print $m + 0 }' <<< "$output")
            [ "$width" -ge 80 ] || width=80
            [ "$longest" -le "$width" ] || { echo "$folder: a line of $longest columns in $width"; return 1; }
            # however narrow, an arrow keeps the row it comes from whole
            froms=$(grep -oE 'from [0-9]+(─|▶| |\)|$)' <<< "$output" | grep -oE '[0-9]+' | sort -n | tr '\n' ' ')
            [ "$width" -ne 132 ] || widest=$froms
            [ "$froms" = "$widest" ] || { echo "$folder in $width columns: arrows from $froms, in 132: $widest"; return 1; }
        done
    done
    run timeline_of "$traces/debian12/catcher" --text
    [ "$(grep -c '◀─signal from [0-9]' <<< "$output")" -eq 4 ]
    run timeline_of "$traces/debian12/pairhalt" --text --width 100
    assert_line --regexp '^ +[0-9]+ ─cancel from [0-9]+(─)+▶SIGRTMIN arrives'
    [ "$(grep -c '◀─joined from [0-9]' <<< "$output")" -eq 2 ]
}

# Every label of the pictures in file $1 lies inside its picture and overlaps no other, from the
# coordinates the SVG gives (x, y, textLength; 12-pixel text).
labels_fit() {
    perl -0777 -ne '
        my $bad = 0;
        for my $svg (/(<svg\b.*?<\/svg>)/sg) {
            my ($w, $h) = $svg =~ /viewBox="0 0 (\d+) (\d+)"/ or die "no viewBox\n";
            my @box;
            while ($svg =~ /<text\b[^>]*\bx="(\d+)" y="(\d+)" textLength="(\d+)"[^>]*>([^<]*)</g) {
                push @box, [$1, $2 - 10, $1 + $3, $2 + 3, $4];
            }
            die "no labels\n" unless @box;
            for my $b (@box) {
                $bad++, print "outside: $b->[4]\n" if $b->[0] < 0 || $b->[1] < 0 || $b->[2] > $w || $b->[3] > $h;
            }
            for my $i (0 .. $#box) {
                for my $j ($i + 1 .. $#box) {
                    my ($p, $q) = @box[$i, $j];
                    $bad++, print "overlap: $p->[4] / $q->[4]\n"
                        if $p->[0] < $q->[2] && $q->[0] < $p->[2] && $p->[1] < $q->[3] && $q->[1] < $p->[3];
                }
            }
        }
        exit($bad ? 1 : 0);' "$1"
}

@test "every label of every stop's picture lies inside it and overlaps no other" {
    unpack_traces
    local folder
    for folder in "$traces"/*/*; do
        has_timeline "$folder" || continue
        timeline_of "$folder" --svg --filter . > "$BATS_TEST_TMPDIR/picture.svg"
        run labels_fit "$BATS_TEST_TMPDIR/picture.svg"
        assert_success
    done
    # and the check sees an overlap: two labels moved onto one place
    timeline_of "$traces/debian12/catcher" --svg |
        perl -pe 's/x="\d+" y="(\d+)" textLength/x="40" y="100" textLength/ if /tl-event/' > "$BATS_TEST_TMPDIR/bad.svg"
    run ! labels_fit "$BATS_TEST_TMPDIR/bad.svg"
}

@test "stand-ins that change a program change its timeline: a skipped join, one more signal" {
    [ -n "$TOOLS" ] || skip "SYSZOO_TOOLS names no folder of test helpers"
    command -v strace > /dev/null || skip "strace is not installed (Debian package strace)"
    # a sanitizer's run-time must come first among the libraries: no stand-in can be preloaded
    [ "$(awk -F '\t' '$1 == "sanitizers" { print $2 }' "$BUILD_INFO")" = none ] ||
        skip "a sanitizer build takes no preloaded stand-in"
    local trace=$BATS_TEST_TMPDIR/trace
    mkdir -p "$trace/pairjoin" "$trace/catcher"
    # pairjoin's first join returns at once: the join arrow from task2 is gone, task1's stays
    LD_LIBRARY_PATH=$TOOLS strace -f -ttt -o "$trace/pairjoin/1" -E LD_PRELOAD=libjoin_skip.so -- "$BIN/pairjoin" > /dev/null
    run timeline_of "$trace/pairjoin" --structure
    assert_line 'arrow join: thread task1 -> pairjoin'
    refute_line 'arrow join: thread task2 -> pairjoin'
    assert_line 'arrow thread: pairjoin -> thread task2'
    # catcher sends itself SIGUSR2 before its first pause: one more signal arrow, its own
    LD_LIBRARY_PATH=$TOOLS strace -f -ttt -o "$trace/catcher/1" -E LD_PRELOAD=libsignal_self.so -- "$BIN/catcher" > /dev/null 3>&- &
    local pid=$!
    wait_for_trace_line "$trace/catcher/1" '^[0-9]+ +[0-9.]+ pause\(' 10
    kill -USR1 "$(pgrep -P "$pid" catcher)"
    wait_for_trace_line "$trace/catcher/1" 'received SIGUSR1' 10
    kill -TERM "$(pgrep -P "$pid" catcher)"
    wait "$pid" || true
    run timeline_of "$trace/catcher" --structure
    assert_output - << 'END'
lane catcher
lane the tour (not traced)
arrow signal: catcher -> catcher
arrow signal: the tour (not traced) -> catcher
arrow signal: the tour (not traced) -> catcher
END
}

# Wait up to $3 seconds for a line of trace file $1 that matches extended expression $2.
wait_for_trace_line() {
    local i
    for (( i = 0; i < $3 * 20; i++ )); do
        grep -qE -- "$2" "$1" 2> /dev/null && return 0
        sleep 0.05
    done
    echo "no line like $2 in $1"
    return 1
}

@test "./tour --timeline: drawings under the stops that have one, one line why under the others" {
    command -v strace > /dev/null || skip "strace is not installed (Debian package strace)"
    keep=$BATS_TEST_TMPDIR/keep
    COLUMNS=80 SYSZOO_TIMELINE_KEEP=$keep run --separate-stderr tour --timeline catcher farewell charcopy
    assert_success
    assert_line 'Timeline: its processes and threads, time downward (from the same traced run)'
    assert_line --regexp '^    catcher +the tour.s kill$'
    [ "$(grep -c '◀─signal from [0-9]' <<< "$output")" -eq 4 ]
    # farewell's lines all leave in one write at exit: every one is drawn, whole, in its order
    [ "$(awk '/^-- / { on = /^-- farewell:/ } on' <<< "$output" | grep -E '^ *[0-9]+ ' | grep -o '“[^”]*”' | paste -sd '|')" = \
        '“main is done”|“first exit handler”|“first exit handler”|“second exit handler”' ]
    assert_line "Timeline: charcopy is one process copying its input: nothing happens between processes to draw."
    # the drawing's lines (a row number in three columns, or the lanes' names) fit in 80
    longest=$(perl -CS -ne 'chomp; $m = length if /^((  \d| \d\d|\d\d\d) |    \S)/ && length > $m; END { print $m + 0 }' <<< "$output")
    [ "$longest" -gt 40 ]
    [ "$longest" -le 80 ]
    # the commands beside the program are traced for a stop that has a timeline, not for the others
    [ -f "$keep/catcher/p1" ]
    [ -f "$keep/charcopy/1" ]
    [ -z "$(find "$keep/charcopy" -name 'p*')" ]
    tour_left_nothing "$mark"
}

@test "the timeline is drawn from the kernel view's run, with the tour's kills traced in it; the run shown stays untraced" {
    command -v strace > /dev/null || skip "strace is not installed (Debian package strace)"
    keep=$BATS_TEST_TMPDIR/keep
    # Every command line the tour runs, as it runs it, into $ran
    ran=$BATS_TEST_TMPDIR/ran
    printf '#!/bin/bash\nprintf "%%s\\n" "$1" >> %q\nexec bash -c "$1"\n' "$ran" > "$BATS_TEST_TMPDIR/shell"
    chmod +x "$BATS_TEST_TMPDIR/shell"
    SYSZOO_TOUR_SHELL=$BATS_TEST_TMPDIR/shell SYSZOO_TIMELINE_KEEP=$keep run --separate-stderr tour --timeline catcher
    assert_success
    local shown traced viewed file
    shown=$(sed -n 's/^\$ kill -USR1 \([0-9]*\)$/\1/p' <<< "$output" | head -n 1)
    viewed=$(sed -En 's/^  ([0-9]+) +rt_sigaction\(SIGUSR1, \{.*/\1/p' <<< "$output") # not the timeline's rows
    traced=$(sed -En 's/^([0-9]+) +[0-9.]+ rt_sigaction\(SIGUSR1.*/\1/p' "$keep/catcher/1")
    [ -n "$shown" ]
    [ -n "$traced" ]
    [ "$shown" != "$traced" ]
    # the program's trace is the one the kernel view shows
    [ "$viewed" = "$traced" ]
    # the commands shown ran as shown; in the traced run all of them ran under strace, the kills
    # whole, each into a trace file of its own, signalling the catcher traced there
    local bin
    bin=$(shown_bin)
    # (a sanitizer build's leak check is switched off under strace: -E ASAN_OPTIONS=...)
    assert_equal "$(sed -E 's/-o [^ ]*(trace\/p?[0-9]+) /-o \1 /; s/ -E ASAN_OPTIONS=[^ ]*//' "$ran")" "$bin/catcher
kill -USR1 $shown
kill -USR2 $shown
kill -USR1 $shown
kill -TERM $shown
strace -f -ttt -a 58 -e write=1,2 -T --decode-fds=socket -A -o trace/1 -- $bin/catcher
strace -f -ttt -T --decode-fds=socket -e write=1,2 -A -o trace/p1 -- bash -c kill\\ -USR1\\ $traced
strace -f -ttt -T --decode-fds=socket -e write=1,2 -A -o trace/p2 -- bash -c kill\\ -USR2\\ $traced
strace -f -ttt -T --decode-fds=socket -e write=1,2 -A -o trace/p3 -- bash -c kill\\ -USR1\\ $traced
strace -f -ttt -T --decode-fds=socket -e write=1,2 -A -o trace/p4 -- bash -c kill\\ -TERM\\ $traced"
    [ "$(grep -hoE "^[0-9]+ +[0-9.]+ kill\\($traced, SIG[A-Z0-9]+\\) = 0" "$keep"/catcher/p? | grep -oE 'SIG[A-Z0-9]+' | paste -sd ' ')" = "SIGUSR1 SIGUSR2 SIGUSR1 SIGTERM" ]
    run timeline_of "$keep/catcher" --structure
    assert_output - << 'END'
lane catcher
lane the tour's kill
arrow signal: the tour's kill -> catcher
arrow signal: the tour's kill -> catcher
arrow signal: the tour's kill -> catcher
arrow signal: the tour's kill -> catcher
END
    tour_left_nothing "$mark"
}

@test "under --timeline the kernel view's lines lose their times only, whatever the width of the PID strace pads" {
    # shellcheck source=tools/tour-timeline.bash
    source "$ROOT/tools/tour-timeline.bash"
    printf '%s\n' '812   1796841138.527101 pause()   = ? ERESTARTNOHAND <2.300124>' '4242  1796841138.5 exit_group(0)                     = ?' \
        '123456 1796841139.000001 --- SIGUSR1 {si_signo=SIGUSR1, si_pid=7} ---' '99    1796841139.1 +++ exited with 0 +++' > "$BATS_TEST_TMPDIR/timed"
    run timeline_untimed "$BATS_TEST_TMPDIR/timed"
    assert_output - << 'END'
812   pause()   = ? ERESTARTNOHAND
4242  exit_group(0)                     = ?
123456 --- SIGUSR1 {si_signo=SIGUSR1, si_pid=7} ---
99    +++ exited with 0 +++
END
    # and the results stay in the column where strace puts them without times (the two runs'
    # PIDs may differ in width, the column does not)
    command -v strace > /dev/null || skip "strace is not installed (Debian package strace)"
    timeline=1
    # shellcheck disable=SC2046 # the options, one a word
    strace -f $(timeline_strace_options) -e trace=exit_group -o "$BATS_TEST_TMPDIR/timed" -- true
    strace -f -e trace=exit_group -o "$BATS_TEST_TMPDIR/untimed" -- true
    [ "$(timeline_untimed "$BATS_TEST_TMPDIR/timed" | awk '{ print index($0, "= ?") }')" = \
        "$(awk '{ print index($0, "= ?") }' "$BATS_TEST_TMPDIR/untimed")" ]
}

@test "a connect is matched to the accept that took it by both ends of the socket, not by when it came" {
    # client connects first, then bash; the server accepts bash's connection (port 40002) first
    local folder
    hand_made server
    cat > "$folder/1" << 'END'
100   1.000000 execve("build/bin/server", ["build/bin/server"], 0x7ffc /* 20 vars */) = 0
100   1.010000 socket(AF_INET, SOCK_STREAM, IPPROTO_IP) = 3<TCP:[11]>
100   1.020000 bind(3<TCP:[11]>, {sa_family=AF_INET, sin_port=htons(5678), sin_addr=inet_addr("127.0.0.1")}, 16) = 0
100   1.300000 accept(3<TCP:[127.0.0.1:5678]>, {sa_family=AF_INET, sin_port=htons(40002), sin_addr=inet_addr("127.0.0.1")}, [16]) = 4<TCP:[127.0.0.1:5678->127.0.0.1:40002]>
100   1.310000 read(4<TCP:[127.0.0.1:5678->127.0.0.1:40002]>, "b", 256) = 1
100   1.320000 accept(3<TCP:[127.0.0.1:5678]>, {sa_family=AF_INET, sin_port=htons(40001), sin_addr=inet_addr("127.0.0.1")}, [16]) = 5<TCP:[127.0.0.1:5678->127.0.0.1:40001]>
100   1.330000 read(5<TCP:[127.0.0.1:5678->127.0.0.1:40001]>, "a", 256) = 1
100   1.400000 +++ exited with 0 +++
END
    local port name
    for port in 40001 40002; do
        name=p$((port - 40000))
        echo "build/bin/client $port" > "$folder/$name.command"
        cat > "$folder/$name" << END
$port   1.${name#p}00000 execve("build/bin/client", ["build/bin/client"], 0x7ffc /* 20 vars */) = 0
$port   1.${name#p}10000 socket(AF_INET, SOCK_STREAM, IPPROTO_IP) = 3<TCP:[2$port]>
$port   1.${name#p}20000 connect(3<TCP:[2$port]>, {sa_family=AF_INET, sin_port=htons(5678), sin_addr=inet_addr("127.0.0.1")}, 16) = 0
$port   1.${name#p}30000 write(3<TCP:[127.0.0.1:$port->127.0.0.1:5678]>, "x", 1) = 1
$port   1.${name#p}40000 +++ exited with 0 +++
END
    done
    run perl "$timeline" --stop server --text -- "$folder"/1 "$folder"/p1 "$folder"/p2
    assert_success
    # one lane for the two runs of the client: rows 3 and 7 its connects (port 40001, then 40002),
    # 4 and 8 its writes; the server takes 40002 first
    assert_line --regexp '^ 10 accept = fd 4 +◀─connection from 7(─)+$'
    assert_line --regexp '^ 11 read 1 bytes +◀─data from 8(─)+$'
    assert_line --regexp '^ 12 accept = fd 5 +◀─connection from 3(─)+$'
    assert_line --regexp '^ 13 read 1 bytes +◀─data from 4(─)+$'
    # and the kernel view's lines are without the decorations that matched them
    source "$ROOT/tools/tour-timeline.bash"
    run timeline_untimed "$folder/1"
    refute_output --partial '<TCP'
    assert_line '100   read(4, "b", 256) = 1'
}

@test "what the trace cannot order is not ordered: a call that waited ends where it returned, overlapping writes share a row" {
    local folder
    hand_made server
    # the server's accept (its address NULL) and read begin before the client connects and
    # writes; strace -T says when they returned
    cat > "$folder/1" << 'END'
100   1.000000 execve("build/bin/server", ["build/bin/server"], 0x7ffc /* 20 vars */) = 0 <0.000300>
100   1.010000 socket(AF_INET, SOCK_STREAM, IPPROTO_IP) = 3<TCP:[11]> <0.000020>
100   1.020000 bind(3<TCP:[11]>, {sa_family=AF_INET, sin_port=htons(5678), sin_addr=inet_addr("127.0.0.1")}, 16) = 0 <0.000010>
100   1.100000 accept(3<TCP:[127.0.0.1:5678]>, NULL, NULL) = 4<TCP:[127.0.0.1:5678->127.0.0.1:40001]> <0.400000>
100   1.510000 read(4<TCP:[127.0.0.1:5678->127.0.0.1:40001]>, "a", 256) = 1 <0.200000>
100   1.800000 +++ exited with 0 +++
END
    echo build/bin/client > "$folder/p1.command"
    cat > "$folder/p1" << 'END'
200   1.300000 execve("build/bin/client", ["build/bin/client"], 0x7ffc /* 20 vars */) = 0 <0.000300>
200   1.310000 socket(AF_INET, SOCK_STREAM, IPPROTO_IP) = 3<TCP:[21]> <0.000020>
200   1.320000 connect(3<TCP:[21]>, {sa_family=AF_INET, sin_port=htons(5678), sin_addr=inet_addr("127.0.0.1")}, 16) = 0 <0.000100>
200   1.600000 write(3<TCP:[127.0.0.1:40001->127.0.0.1:5678]>, "a", 1) = 1 <0.000020>
200   1.700000 +++ exited with 0 +++
END
    run perl "$timeline" --stop server --structure -- "$folder"/1 "$folder"/p1
    assert_output - << 'END'
lane server
lane client
arrow connect: client -> server
arrow data: client -> server
END
    run perl "$timeline" --stop server --text -- "$folder"/1 "$folder"/p1
    assert_line --regexp '^  2 accept = fd 4 …$'
    assert_line --regexp '^  5 … accept = fd 4 returns +◀─connection from 4(─)+$'
    assert_line --regexp '^  9 … read 1 bytes returns +◀─data from 7(─)+$'
    # a connect that waited returns after the accept that took it: its arrow leaves where it began
    sed -i 's/connect(\(.*\) = 0 <0.000100>/connect(\1 = 0 <0.250000>/' "$folder/p1"
    run perl "$timeline" --stop server --structure -- "$folder"/1 "$folder"/p1
    assert_line 'arrow connect: client -> server'
    run perl "$timeline" --stop server --text -- "$folder"/1 "$folder"/p1
    assert_line --regexp '^  4 .* connect 127\.0\.0\.1:5678 …$'
    assert_line --regexp '^  5 … accept = fd 4 returns +◀─connection from 4(─)+$'
    # one process's write begun, another's whole, then the first's resumed: one row; a line of
    # strace's own without a time does not change the order of the rest
    hand_made interleave
    cat > "$folder/1" << 'END'
300   1.000000 execve("build/bin/interleave", ["build/bin/interleave"], 0x7ffc /* 20 vars */) = 0
300   1.100000 clone(child_stack=NULL, flags=CLONE_CHILD_CLEARTID|CLONE_CHILD_SETTID|SIGCHLD, child_tidptr=0x7f) = 301
300   1.200000 write(1, "u", 1 <unfinished ...>
301   1.300000 write(1, "v", 1)         = 1
 | 100000  76                                                v                |
strace: Process 301 detached
300   1.400000 <... write resumed>)     = 1
300   1.500000 write(1, "w", 1)         = 1
300   1.600000 +++ exited with 0 +++
END
    run perl "$timeline" --stop interleave --audit -- "$folder"/1
    assert_success
    run perl "$timeline" --stop interleave --text -- "$folder"/1
    assert_line --regexp '^  3 “u” +“v” \(fork from 2\)$'
    assert_line --regexp '^  4 “w”$'
    # and a line the parser does not know is said to be unexplained, never dropped
    echo 'this is no line of strace' >> "$folder/1"
    run perl "$timeline" --stop interleave --audit -- "$folder"/1
    assert_failure
    assert_line --partial $'unexplained\tthis is no line of strace'
}

@test "a signal's arrow comes from the kill that si_pid names and that was made before it" {
    local folder
    hand_made catcher
    # an untraced sender first; then sender-a's kill comes before sender-b's, but b's arrives first
    cat > "$folder/1" << 'END'
600   1.000000 execve("build/bin/catcher", ["build/bin/catcher"], 0x7ffc /* 20 vars */) = 0
600   1.200000 --- SIGUSR1 {si_signo=SIGUSR1, si_code=SI_USER, si_pid=999, si_uid=0} ---
600   1.500000 --- SIGUSR1 {si_signo=SIGUSR1, si_code=SI_USER, si_pid=800, si_uid=0} ---
600   1.600000 --- SIGUSR1 {si_signo=SIGUSR1, si_code=SI_USER, si_pid=700, si_uid=0} ---
600   1.700000 +++ killed by SIGKILL +++
END
    echo 'sender-a' > "$folder/p1.command"
    echo '700   1.300000 kill(600, SIGUSR1)      = 0' > "$folder/p1"
    echo 'sender-b' > "$folder/p2.command"
    printf '%s\n' '800   1.350000 kill(601, SIGUSR1)      = 0' '800   1.400000 kill(600, SIGUSR1)      = 0' > "$folder/p2"
    run perl "$timeline" --stop catcher --events -- "$folder"/1 "$folder"/p1 "$folder"/p2
    # b's kill of another process (row 4) is not the one that arrived
    assert_line $'timeline-item\trow 6: catcher: SIGUSR1 arrives; signal from sender-b (row 5)'
    run perl "$timeline" --stop catcher --structure -- "$folder"/1 "$folder"/p1 "$folder"/p2
    assert_output - << 'END'
lane catcher
lane sender-a
lane sender-b
lane the tour (not traced)
arrow signal: the tour (not traced) -> catcher
arrow signal: sender-b -> catcher
arrow signal: sender-a -> catcher
END
}

@test "what nobody saw is not drawn, a lane's runs are apart, and a label cut short keeps its result" {
    unpack_traces
    local release
    for release in "$traces"/*; do
        # tickmeter's grep writes its complaints to the /dev/null its shell opened
        run timeline_of "$release/tickmeter" --text
        refute_output --partial 'grep:'
        run timeline_of "$release/tickmeter" --audit
        assert_output --partial $'left out: a write to /dev/null, which nobody sees\t'
        # the client's two runs share a lane: no line between the first's end and the second's start
        run timeline_of "$release/client" --text --width 80 --filter "$(sed -n "s/^ *kernel_view '\([^']*\)'.*/\1/p" "$ROOT/net/client.tour")"
        perl -CS -ne 'BEGIN { $c = 4 + 25 } $gap = 1 if /^ +\d+ +\S.*exits 0/ && !$seen++; $gap = 0 if $gap && substr($_, $c, 7) eq "execve "; print "line in the gap: $_" if $gap && !/exits 0/ && substr($_, $c, 1) eq "\x{2502}"' <<< "$output" > "$BATS_TEST_TMPDIR/gap"
        [ ! -s "$BATS_TEST_TMPDIR/gap" ] || { cat "$BATS_TEST_TMPDIR/gap"; return 1; }
        assert_line --regexp '^ +[0-9]+ │ +connect .*EINPROGRESS$'
    done
}

@test "a client that never connects: the server's timeline has no connect-accept arrow from it" {
    command -v strace > /dev/null || skip "strace is not installed (Debian package strace)"
    fake=$BATS_TEST_TMPDIR/fake
    mkdir -p "$fake/bin"
    ln -s "$BIN"/* "$fake/bin"
    rm "$fake/bin/client"
    printf '#!/bin/bash\necho "connect: Connection refused" >&2\nexit 1\n' > "$fake/bin/client"
    chmod +x "$fake/bin/client"
    keep=$BATS_TEST_TMPDIR/keep
    SYSZOO_BIN=$fake/bin SYSZOO_BUILD_INFO=$BIN/../build-info SYSZOO_TIMELINE_KEEP=$keep run --separate-stderr tour --timeline server
    assert_success
    run timeline_of "$keep/server" --structure
    assert_line 'lane client'
    refute_line 'arrow connect: client -> server'
    refute_line 'arrow data: client -> server'
    assert_line "arrow connect: the tour's printf -> server" # the other connection still is
    # the tour's kill that ends the server is traced in that run too
    assert_line "arrow signal: the tour's kill -> server"
    refute_line --partial "not traced"
    tour_left_nothing "$mark"
}

@test "on the page: a picture per stop with JavaScript off, labels inside and apart at 390, 800 and 1280 pixels, light and dark" {
    command -v strace > /dev/null || skip "strace is not installed (Debian package strace)"
    command -v chromium > /dev/null ||
        skip "chromium is not installed (Debian package chromium): the page was not loaded in a browser"
    page=$BATS_TEST_TMPDIR/tour.html
    run --separate-stderr tour --html "$page" catcher pairhalt charcopy
    assert_success
    # two pictures, each with its list; charcopy says why it has none
    [ "$(grep -c '<div class="tl-picture"><svg ' "$page")" -eq 2 ]
    [ "$(grep -c '<details class="tl-list"><summary>The timeline as a list</summary>' "$page")" -eq 2 ]
    grep -qF '<strong>Timeline:</strong> charcopy is one process' "$page"
    grep -qF 'SIGUSR1 arrives; signal from the tour&#39;s kill (row ' "$page"
    # nothing fetched, nothing run
    run ! grep -qiE '<script|<link|<img|src=|url\(|@import|https?:' "$page"
    local width scheme shots=${SYSZOO_TOOLS:-$BATS_TEST_TMPDIR} dark
    for width in 390 800 1280; do
        for scheme in light dark; do
            dark=()
            [ "$scheme" = dark ] && dark=(--force-dark-mode)
            chromium_on "$page" "${dark[@]}" --window-size="$width,1400" --dump-dom > "$BATS_TEST_TMPDIR/dom.html"
            run labels_fit "$BATS_TEST_TMPDIR/dom.html"
            assert_success
            chromium_on "$page" "${dark[@]}" --window-size="$width,3000" --screenshot="$shots/timeline-$width-$scheme.png"
            [ "$(head -c 4 "$shots/timeline-$width-$scheme.png" | od -An -tx1 | tr -d ' ')" = 89504e47 ] # a PNG
        done
    done
    tour_left_nothing "$mark"
}

@test "the README's timelines are what the drawing makes of the traces of the run they show" {
    unpack_traces
    local stop filter shown
    for stop in interleave catcher client; do
        # the block under the line "`./tour --timeline STOP`", without its indent
        shown=$(awk -v line="\`./tour --timeline $stop\`" '
            $0 == line { found = 1; next }
            found && /^    / { sub(/^    /, ""); print; started = 1; next }
            found && started && !/^$/ { exit }' "$ROOT/README.md")
        filter=$(sed -n "s/^ *kernel_view '\([^']*\)'.*/\1/p" "$ROOT"/*/"$stop.tour")
        run timeline_of "$traces/debian12/$stop" --text --width 80 --filter "$filter"
        assert_success
        [ -n "$shown" ]
        [ "$output" = "$shown" ] || { diff <(echo "$shown") <(echo "$output"); return 1; }
    done
}

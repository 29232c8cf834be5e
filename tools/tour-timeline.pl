#!/usr/bin/perl
# For ./tour --timeline and the page of --html: a stop's processes and threads as lanes, time
# downward, and the causes between them as arrows, drawn from the stop's strace -f logs (one
# trace file per traced command, each with FILE.command beside it naming the command).
#
#   tour-timeline.pl [--stop NAME] [--filter ERE] [--width N] MODE -- FILE...
#     --events     the tour's stream events: the text drawing (timeline-begin, tline...), the
#                  picture (timeline-svg) and its text alternative (timeline-item), timeline-end;
#                  or timeline-none REASON for a stop that has no timeline
#     --text       the text drawing alone, N columns wide (80 at least)
#     --svg        the picture alone
#     --structure  lanes and arrows in order, without times or IDs (for the tests)
#     --audit      every line of every file with the rule that placed it or left it out
#     --drawn      no output: status 0 when stop NAME may have a timeline, 1 when it never has
#                  one (then nothing beside its program need be traced for it)
#
# The parser never drops a line: each is a call (whole, begun or resumed), a signal's arrival,
# a process's end, a notice of strace's own, a line of the bytes a write wrote (strace's
# -e write=FD: the whole of what strace's quoted string cuts short), or a line cut short where
# the trace ends; any
# other line is counted as unexplained and --audit says so. Lines of one file are in the order
# strace wrote them; files are put in one order by their times (-ttt). Where two events in
# different lanes have the same time, they share a row: the drawing does not order them.
use strict;
use warnings;

# --- stops ------------------------------------------------------------------------------------
# Stops with no timeline, and why; a note for a stop whose lesson is partly invisible to strace.
my %no_timeline = (
    charcopy => 'charcopy is one process copying its input: nothing happens between processes to draw.',
    spill    => 'spill is one process writing to one output: nothing happens between processes to draw.',
    attrmark => 'attrmark is one process working on one file: nothing happens between processes to draw.',
    blank    => 'blank is the smallest program: one process that starts and ends, nothing to draw between lanes.',
    oldstyle => 'oldstyle is a minimal program: one process that starts and ends, nothing to draw between lanes.',
    test     => 'test is a minimal program: one process that starts and ends, nothing to draw between lanes.',
    relay    => 'relay runs under its debugger, which is already its tracer: it has no trace to draw.',
    try      => 'a command of one\'s own is shown in the kernel view only.',
);
my %stop_note = (
    farewell => 'The exit handlers make no system call of their own: their lines leave with main\'s in the writes drawn here, a line a row (in one write at exit, where standard output is not a terminal).',
    pairjoin => 'Where standard output is not a terminal, the threads\' lines wait in stdio\'s buffer and leave in main\'s write at exit: each is drawn where it was written.',
    pairhalt => 'The cancel takes effect at task1\'s next cancellation point; a cancel that lands before the sleep makes no call of its own and is not drawn. Where standard output is not a terminal, the threads\' lines leave in main\'s write at exit.',
);
my %thread_names = (pairjoin => ['thread task1', 'thread task2'], pairhalt => ['thread task1', 'thread task2']);

# --- arguments ----------------------------------------------------------------------------------
my ($mode, $stop, $filter, $width, @absent) = ('', '', '', 80);
while (@ARGV) {
    my $a = shift @ARGV;
    if ($a eq '--') { last }
    elsif ($a eq '--stop') { $stop = shift @ARGV // '' }
    elsif ($a eq '--filter') { $filter = shift @ARGV // '' }
    elsif ($a eq '--width') { $width = shift @ARGV // 80 }
    elsif ($a eq '--absent') { push @absent, shift @ARGV // '' }
    elsif ($a =~ /^--(events|text|svg|structure|audit|drawn)$/) { $mode = $1 }
    else { die "tour-timeline: unknown argument '$a'\n" }
}
my @files = @ARGV;
$width = 80 unless $width =~ /^\d+$/ && $width >= 80;
die "tour-timeline: name a mode (--events, --text, --svg, --structure, --audit or --drawn)\n" unless $mode;
exit(exists $no_timeline{$stop} ? 1 : 0) if $mode eq 'drawn';

# --- the parser ---------------------------------------------------------------------------------
# One record a line: {file, line, text, pid, time, kind, ...} with kind call (name, args, result;
# part whole, begin or end), signal (sig, info), end (how), notice, dump (bytes), cut, blank,
# unexplained.
my @records;
my $timed = 1;
my $unexplained = 0;

sub seconds {
    my ($t) = @_;
    return $t if $t =~ /^\d+\.\d+$/;
    my ($h, $m, $s) = $t =~ /^(\d\d):(\d\d):(\d\d(?:\.\d+)?)$/;
    return $h * 3600 + $m * 60 + $s;
}

# What --decode-fds=socket adds to a socket's descriptor: 3<TCP:[127.0.0.1:52812->127.0.0.1:5678]>
# (an IPv6 address is in brackets of its own).
my $socket_decoration = qr/<(?:TCP|TCPv6|UDP|UDPv6|UDPLITE|UDPLITEv6|UNIX|UNIX-STREAM|UNIX-DGRAM|UNIX-SEQPACKET|NETLINK|socket):\[(?:\[[^\]]*\]|[^\[\]])*\]>/;

sub parse_line {
    my ($r, $text) = @_;
    my $rest = $text;
    # A call's first argument, a connected TCP socket: its own end, to match a connect to its
    # accept; then the line as it is without the decorations.
    @$r{qw(sock_fd sock_local)} = ($1, $2) if $rest =~ /^[^"]*?\w\((\d+)<TCP(?:v6)?:\[((?:\[[^\]]*\]|[^\[\]])+?)->/;
    # An accepted socket's other end, where accept's result shows it (its address may be NULL).
    $r->{accepted_peer} = $1 if $rest =~ /\baccept4?\(.*= \d+<TCP(?:v6)?:\[(?:\[[^\]]*\]|[^\[\]])+?->((?:\[[^\]]*\]|[^\[\]])+)\]>/;
    # How long the call took (strace -T), at the end of a line that ends a call.
    $r->{took} = $1 if $rest =~ s/ <(\d+\.\d+)>$//;
    $rest =~ s/(?<=\d)$socket_decoration//g;
    if ($rest =~ s/^\[pid\s+(\d+)\]\s+//) { $r->{pid} = $1 }
    elsif ($rest =~ s/^(\d+)\s+(?=\S)//) { $r->{pid} = $1 }
    if ($rest =~ s/^(\d+\.\d+|\d\d:\d\d:\d\d(?:\.\d+)?)\s+//) { $r->{time} = seconds($1) }
    $r->{pid} //= 'main';
    $r->{body} = $rest;
    if ($rest eq '') { $r->{kind} = 'blank' }
    elsif ($rest =~ /^strace: / || $rest =~ /^\+\+\+ superseded by execve in pid \d+ \+\+\+$/) { $r->{kind} = 'notice' }
    elsif ($rest =~ /^ \| ([0-9a-f]{5,})  [0-9a-f]{2} /) { # the offset, 16 bytes in hex at most, then as text
        @$r{qw(kind bytes)} = ('dump', pack('H*', join '', substr($rest, 5 + length $1, 49) =~ /([0-9a-f]{2})/g));
    }
    elsif ($rest =~ /^--- (SIG\w+) \{(.*)\} ---$/) { @$r{qw(kind sig info)} = ('signal', $1, $2) }
    elsif ($rest =~ /^--- (.*) ---$/) { @$r{qw(kind sig info)} = ('signal', $1, '') }
    elsif ($rest =~ /^\+\+\+ (exited with (\d+)|killed by (SIG\w+)(?: \(core dumped\))?) \+\+\+$/) {
        @$r{qw(kind how)} = ('end', defined $2 ? "exits $2" : "killed by $3");
    } elsif ($rest =~ /^<\.\.\. (\w+) resumed>(.*)$/) {
        @$r{qw(kind name part)} = ('call', $1, 'end');
        split_result($r, $2);
    } elsif ($rest =~ /^(\w+|\?\?\?)\((.*)$/) {
        @$r{qw(kind name)} = ('call', $1);
        my $args = $2;
        if ($args =~ s/ ?<unfinished \.\.\.>$//) { @$r{qw(part args)} = ('begin', $args) }
        else { $r->{part} = 'whole'; split_result($r, $args) }
    } else { $r->{kind} = 'unexplained' }
    return $r;
}

# The arguments' rest and the result: the last ") = " on the line ends the arguments (a string
# or wait4's status may hold ")" and "=" themselves).
sub split_result {
    my ($r, $text) = @_;
    if ($text =~ /^(.*)\)\s+= (.*)$/) {
        @$r{qw(args result)} = ($1, $2);
    } elsif ($text =~ s/\s*<unfinished \.\.\.>\)?\s*=?\s*(.*)$//) { # the process ended during the call
        @$r{qw(args result)} = ($text, $1 || '?');
    } else {
        @$r{qw(args result)} = ($text, '?');
        $r->{broken} = 1;
    }
}

for my $f (0 .. $#files) {
    my $path = $files[$f];
    open my $in, '<', $path or die "tour-timeline: cannot read $path: $!\n";
    binmode $in;
    local $/;
    my $all = <$in> // '';
    close $in;
    my $complete = $all eq '' || $all =~ /\n\z/;
    my @lines = split /\n/, $all, -1;
    pop @lines if @lines && $lines[-1] eq '';
    my $last_call; # the call that a dump's bytes belong to: the one just before it
    for my $n (0 .. $#lines) {
        my $r = {file => $f, line => $n + 1, text => $lines[$n]};
        parse_line($r, $lines[$n]);
        if (!$complete && $n == $#lines) { $r->{kind} = 'cut'; $r->{name} = undef }
        if ($r->{kind} eq 'dump') {
            if ($last_call && $last_call->{name} =~ /^(write|writev|send|sendto|sendmsg)$/) {
                $last_call->{dump} .= $r->{bytes};
                $r->{rule} = 'placed with the write whose bytes it shows';
            } else { $r->{kind} = 'unexplained' }
        }
        $last_call = $r if $r->{kind} eq 'call';
        $timed = 0 if !defined $r->{time} && $r->{kind} !~ /^(blank|cut|dump|notice)$/;
        $unexplained++ if $r->{kind} eq 'unexplained';
        push @records, $r;
    }
}
my %command_of;
for my $f (0 .. $#files) {
    my $c = '';
    if (open my $in, '<', "$files[$f].command") { $c = <$in> // ''; chomp $c }
    $command_of{$f} = $c;
}

# One order for every file: by time where all have times (ties keep each file's own order).
my $seq = 0;
$_->{seq} = $seq++ for @records;
if ($timed) {
    my $last = 0;
    for (@records) { $_->{time} //= $last; $last = $_->{time} }
    @records = sort { $a->{time} <=> $b->{time} || $a->{seq} <=> $b->{seq} } @records;
    $seq = 0;
    $_->{seq} = $seq++ for @records;
    # A whole line's time is when its call began: with strace -T, a call that another process's
    # line came in during is begun and ended apart, as strace shows one that another process's
    # line interrupts (a file of its own is never interrupted by another file's lines).
    my @ends;
    for my $i (0 .. $#records) {
        my $r = $records[$i];
        next unless ($r->{kind} // '') eq 'call' && $r->{part} eq 'whole' && ($r->{took} // 0) > 0;
        my $end = $r->{time} + $r->{took};
        my $j = $i + 1;
        $j++ while $j <= $#records && $records[$j]{time} < $end
            && ($records[$j]{kind} !~ /^(call|signal|end)$/ || key_of($records[$j]) eq key_of($r));
        next unless $j <= $#records && $records[$j]{time} < $end;
        push @ends, {%$r, part => 'end', time => $end, seq => $r->{seq} + 0.5, synthetic => 1, begun => $r, dump => undef};
        $r->{ended} = $ends[-1];
    }
    if (@ends) {
        @records = sort { $a->{time} <=> $b->{time} || $a->{seq} <=> $b->{seq} } @records, @ends;
        $seq = 0;
        $_->{seq} = $seq++ for @records;
    }
}

# A call begun and resumed is one call: the end joins its begin (same file, same process).
my %open;
for my $r (@records) {
    next unless ($r->{kind} // '') eq 'call' && !$r->{synthetic};
    my $key = "$r->{file}:$r->{pid}";
    if ($r->{part} eq 'begin') { $open{$key} = $r }
    elsif ($r->{part} eq 'end') {
        my $b = delete $open{$key};
        if ($b && $b->{name} eq $r->{name}) { $b->{ended} = $r; $r->{begun} = $b; $b->{result} = $r->{result}; $b->{args} .= $r->{args} }
    }
}

# --- the model: lanes, events, arrows -------------------------------------------------------------
my (@lanes, %lane_of, @events, @arrows);
my %parent_of;  # "file:pid" of a child => {parent event, thread?}
my %exec_name;  # lane key => the program it runs
sub key_of { "$_[0]{file}:$_[0]{pid}" }
sub lane {
    my ($key) = @_;
    return $lane_of{$key} if exists $lane_of{$key};
    push @lanes, {key => $key, name => $key, events => 0};
    return $lane_of{$key} = $#lanes;
}
sub event {
    my ($r, $label, %more) = @_;
    my $e = {lane => lane(key_of($r)), run => key_of($r), time => $r->{time} // 0, seq => $r->{seq}, label => $label, record => $r, %more};
    push @events, $e;
    $r->{placed} = $e;
    return $e;
}

my $sig_re = qr/SIG[A-Z0-9_+]+/;
sub short {
    my ($s, $n) = @_;
    return length $s > $n ? substr($s, 0, $n - 1) . "\x{2026}" : $s;
}
# A label cut to $n characters keeps its result (" = EINPROGRESS"), which is most often the
# lesson, and cuts what comes before it.
sub fit {
    my ($s, $n) = @_;
    return $s if length $s <= $n;
    # a call that waited: its begin ("... \x{2026}") and its return ("\x{2026} ... returns") keep their marks
    return fit($1, $n - 2) . " \x{2026}" if $s =~ /^(.+) \x{2026}$/ && $n > 6;
    return "\x{2026}" . fit($1, $n - 1) if $s =~ /^\x{2026} (.+) returns$/ && $n > 6;
    my ($head, $result) = $s =~ /^(.*\S) = ([^=]+)$/;
    return short($s, $n) unless defined $result;
    for my $tail (" = $result", "=$result") { # closer where the column is narrow
        return short($head, $n - length $tail) . $tail if length $tail <= $n - 2;
    }
    return short($s, $n);
}
sub out_lines { # a write's bytes as the learner saw them, a line each (strace's "..." cut: "…")
    my ($args, $dump) = @_;
    if (defined $dump) { # every byte written, where strace dumped them
        my $text = $dump;
        utf8::decode($text);
        $text =~ s/\t/ /g;
        $text =~ s/[\x00-\x09\x0b-\x1f\x7f]/?/g;
        return grep { length } split /\n/, $text, -1;
    }
    my ($s, $cut) = $args =~ /^\d+, "((?:[^"\\]|\\.)*)"(\.\.\.)?/ or return;
    $s =~ s/\\t/ /g;
    $s =~ s/\\"/"/g;
    my @lines = grep { length } split /\\n/, $s, -1;
    if ($cut) {
        if ($s =~ /\\n$/) { push @lines, "\x{2026} (cut short by strace)" } else { $lines[-1] .= "\x{2026}" }
    }
    return @lines;
}

# The calls that the stop's kernel view keeps (its filter, matched from the call's name on), on
# the lanes of the stop's own program: a partner's are not its lesson.
my $lesson_re = length $filter ? qr/$filter/ : undef;
sub partner_file { $files[$_[0]] =~ m{/p\d+$} }
my $lesson_match = sub {
    my ($r) = @_;
    return 0 if !$lesson_re || partner_file($r->{file});
    return $r->{body} =~ $lesson_re;
};

# The end of the shell that runs a partner's builtin (the tour's kill) is no part of the lesson.
sub quiet_end {
    my ($key) = @_;
    my ($f) = split /:/, $key;
    return partner_file($f) && ($exec_name{$key} // '') eq 'bash' && !$parent_of{$key};
}

my %threads_made; # per file

# Socket bookkeeping, per process: fd => socket, for sends and reads.
my (%copy_of, %fds, %bound, %sock_of_accept, @connects, @accepts, %bytes);
# Per process, its descriptors open on /dev/null (a shell's "2> /dev/null"), which a child
# inherits: what is written there nobody sees.
my %null;
my %local_end; # socket => its own address and port, where strace showed both ends (--decode-fds)
my $sockets = 0;
my %lesson; # the calls that the stop's kernel view keeps, on its own program's lanes
my @pending_kills;
my %first_seen; # lane key => its first record

for my $r (@records) {
    my $kind = $r->{kind};
    next if $kind eq 'blank' || $kind eq 'notice' || $kind eq 'cut' || $kind eq 'dump' || $kind eq 'unexplained';
    my $key = key_of($r);
    if (!exists $lane_of{$key}) { lane($key); $first_seen{$key} = $r; }
    if ($kind eq 'signal') {
        my ($from) = $r->{info} =~ /si_pid=(\d+)/;
        event($r, "$r->{sig} arrives", signal => $r->{sig}, from => $from);
        next;
    }
    if ($kind eq 'end') {
        if (quiet_end($key)) { $r->{rule} = "left out: the end of the shell that ran the tour's command" }
        else { event($r, $r->{how}, end => 1) }
        next;
    }
    next if $r->{part} eq 'end' && $r->{begun}; # drawn with its begin
    my ($name, $args, $res) = ($r->{name}, $r->{args} // '', $r->{result} // '?');
    if (defined $r->{sock_local} && defined $fds{$key}{$r->{sock_fd}}) { $local_end{$fds{$key}{$r->{sock_fd}}} //= $r->{sock_local} }
    my ($ret) = $res =~ /^(-?\d+|\?)/;
    $ret //= '?';
    my $failed = $ret eq '-1';
    my ($err) = $res =~ /^-1 (E[A-Z0-9]+)/;
    $r->{rule} = 'left out: a call that failed, and so caused nothing' if $failed;
    $null{$key}{$ret} = 1 if !$failed && $name =~ /^(open|openat|creat)$/ && $args =~ m{(?:^|, )"/dev/null"};
    if ($name eq 'execve') {
        next if $failed;
        my ($path) = $args =~ /^"([^"]*)"/;
        $path //= '?';
        (my $base = $path) =~ s{.*/}{};
        # A partner's command runs in bash: its start is the command's, not a lesson.
        my $wrapper = partner_file($r->{file}) && !exists $exec_name{$key} && !$parent_of{$key} && $base eq 'bash';
        $exec_name{$key} = $base;
        if ($wrapper) { $r->{rule} = "left out: the shell that runs the tour's command starts" }
        else { event($r, "execve $base", exec => $base) }
    } elsif ($name =~ /^(clone3?|fork|vfork)$/) {
        $r->{rule} = 'left out: a call that failed, and so caused nothing', next if $failed || $ret eq '?';
        my $thread = $args =~ /CLONE_THREAD/ ? 1 : 0;
        $null{"$r->{file}:$ret"} = {%{$null{$key} // {}}};
        my $e = event($r, $thread ? 'pthread_create: clone' : "$name: a child", spawn => "$r->{file}:$ret", thread => $thread);
        # threads are named in the order they were created, not that of their first calls
        $parent_of{"$r->{file}:$ret"} = {event => $e, thread => $thread, parent => $key, index => $thread ? $threads_made{$r->{file}}++ : undef};
    } elsif ($name =~ /^(wait4|waitid)$/) {
        next if $failed;
        event($r, "$name", reaps => "$r->{file}:$ret", blocking => 1);
    } elsif ($name eq 'kill' || $name eq 'tkill' || $name eq 'tgkill') {
        my @a = split /, /, $args;
        my $target = $name eq 'tgkill' ? $a[1] : $a[0];
        my $sig = $a[-1];
        my $e = event($r, "$name $sig", kill => $sig, target => $target);
        push @pending_kills, $e unless $failed;
    } elsif ($name eq 'socket') {
        $fds{$key}{$ret} = ++$sockets unless $failed;
        event($r, "socket = $ret") if $lesson_match->($r);
    } elsif ($name =~ /^(dup|dup2|dup3)$/ || ($name eq 'fcntl' && $args =~ /F_DUPFD/)) {
        my ($old) = $args =~ /^(\d+)/;
        if (!$failed && defined $old) {
            if ($null{$key}{$old}) { $null{$key}{$ret} = 1 } else { delete $null{$key}{$ret} }
            if (exists $fds{$key}{$old}) { $fds{$key}{$ret} = $fds{$key}{$old} } else { delete $fds{$key}{$ret} }
            my $std = $old =~ /^[12]$/ ? $old : $copy_of{$key}{$old};
            if (defined $std) { $copy_of{$key}{$ret} = $std } else { delete $copy_of{$key}{$ret} }
        }
        event($r, "$name($args) = $ret") if $lesson_match->($r);
    } elsif ($name eq 'close') {
        my ($fd) = $args =~ /^(\d+)/;
        delete $fds{$key}{$fd}, delete $copy_of{$key}{$fd}, delete $null{$key}{$fd} if defined $fd;
        event($r, "close($fd)") if $lesson_match->($r);
    } elsif ($name eq 'bind') {
        my ($fd) = $args =~ /^(\d+)/;
        my $addr = address($args);
        $bound{$key}{$fd} = $addr if $addr && !$failed;
        event($r, "bind $addr" . ($failed ? " = $err" : '')) if $lesson_match->($r);
    } elsif ($name eq 'connect') {
        my ($fd) = $args =~ /^(\d+)/;
        my $addr = address($args);
        next if $failed && !defined $addr; # a local socket's (a name service's), left out as failed
        $addr //= '?';
        my $e = event($r, "connect $addr" . ($failed ? " = $err" : ''), blocking => 1);
        push @connects, {event => $e, addr => $addr, key => $key, sock => $fds{$key}{$fd}} unless $failed && $err ne 'EINPROGRESS';
    } elsif ($name =~ /^accept4?$/) {
        my ($fd) = $args =~ /^(\d+)/;
        next if $failed;
        my $e = event($r, "$name = fd $ret", blocking => 1);
        $fds{$key}{$ret} = ++$sockets;
        push @accepts, {event => $e, addr => $bound{$key}{$fd} // '?', key => $key, sock => $sockets, peer => address($args) // $r->{accepted_peer}};
    } elsif ($name eq 'getsockopt' && $args =~ /SO_ERROR, \[(\w+)\]/) {
        my $outcome = $1;
        if ($outcome ne '0') { $_->{refused} = 1 for grep { $_->{key} eq $key } @connects }
        event($r, "SO_ERROR: $outcome") if $lesson_match->($r);
    } elsif ($name =~ /^(write|send|sendto|sendmsg|writev)$/ || $name =~ /^(read|recv|recvfrom|recvmsg|readv)$/) {
        my ($fd) = $args =~ /^(\d+)/;
        my $sock = defined $fd ? $fds{$key}{$fd} : undef;
        $fd = $copy_of{$key}{$fd} if defined $fd && !$sock && defined $copy_of{$key}{$fd}; # perror's copy of 2
        my $reading = $name =~ /^(read|recv)/;
        if (!$reading && !$sock && defined $fd && $null{$key}{$fd}) {
            $r->{rule} = 'left out: a write to /dev/null, which nobody sees';
        } elsif ($sock && $ret =~ /^\d+$/) {
            # a read that waited is drawn where it returned, with what came in
            my $e = event($r, "$name $ret bytes", sock => $sock, bytes => $ret, reading => $reading, blocking => $reading);
        } elsif (!$reading && defined $fd && $ret !~ /^[1-9]/ && ($fd eq '1' || $fd eq '2')) {
            $r->{rule} = 'left out: a write that wrote nothing';
        } elsif (!$reading && defined $fd && ($fd eq '1' || $fd eq '2' || ($args =~ /^\d+, "/ && $lesson_match->($r)))) {
            my @lines = out_lines($args, $r->{dump} // ($r->{ended} ? $r->{ended}{dump} : undef));
            $r->{rule} = 'left out: a write of nothing but line ends', next unless @lines;
            my $mark = $fd eq '2' ? '! ' : '';
            my $e = event($r, "$mark\x{201C}$lines[0]\x{201D}", output => 1);
            for my $i (1 .. $#lines) { # the write's further lines, each a row of its own
                push @events, {%$e, seq => $e->{seq} + $i / 1000, label => "$mark\x{201C}$lines[$i]\x{201D}", continued => 1};
            }
        } elsif ($lesson_match->($r)) {
            event($r, "$name($fd) = $ret");
        }
    } elsif ($name eq 'futex' && $args =~ /FUTEX_WAIT_BITSET[^,]*, (\d+),/ && $parent_of{"$r->{file}:$1"}) {
        # a wait on a thread's ID, made before the thread's own first call was seen: a join
        event($r, "join: futex wait", joins => "$r->{file}:$1", blocking => 1);
    } elsif ($name eq 'exit' || $name eq 'exit_group') {
        if (quiet_end($key)) { $r->{rule} = "left out: the end of the shell that ran the tour's command" }
        else { event($r, "$name($args)", exit_call => 1) }
    } elsif ($name =~ /^msg(get|ctl|snd|rcv)$/ || $name eq 'ipc') {
        my ($id) = $args =~ /^(\w+)/;
        my $e = event($r, "$name(" . short($args, 24) . ")" . ($failed ? " = $err" : " = $ret"));
        $e->{queue} = $name eq 'msgget' ? ($failed ? undef : $ret) : $id;
        $e->{creates} = $name eq 'msgget' && $args =~ /IPC_CREAT/;
    } elsif ($lesson_match->($r)) {
        my ($first, $more) = $args =~ /^([^,]*)(,?)/;
        my ($word) = $res =~ /^(\S+(?: E[A-Z0-9_]+)?)/;
        event($r, "$name($first" . ($more ? ", \x{2026}" : '') . ") = " . ($word // '?'),
            blocking => $r->{ended} && $name =~ /^(pause|clock_nanosleep|nanosleep|p?select\w*|poll|ppoll|epoll_wait|read|msgrcv|sigsuspend|rt_sigsuspend)$/ ? 1 : 0);
    }
}

sub address {
    my ($args) = @_;
    my ($port) = $args =~ /sin6?_port=htons\((\d+)\)/;
    my ($ip) = $args =~ /inet_(?:addr|pton)\((?:AF_INET6?, )?"([^"]+)"/;
    return defined $port ? ($ip // '?') . ":$port" : undef;
}


# A child's lane begins with its first call, where the arrow from its creation points.
for my $key (keys %parent_of) {
    next unless exists $lane_of{$key} && $first_seen{$key};
    my $r = $first_seen{$key};
    next if $r->{placed};
    my $label = $r->{kind} eq 'call' ? "first call: $r->{name}" : $r->{kind} eq 'signal' ? "$r->{sig} arrives" : 'first call';
    event($r, $label);
}

# Lanes named as the learner knows them.
sub lane_name {
    my ($key) = @_;
    my ($f, $pid) = split /:/, $key;
    my $parent = $parent_of{$key};
    my $ran = $exec_name{$key};
    if ($parent) {
        if ($parent->{thread}) {
            my $n = $parent->{index};
            return $thread_names{$stop}[$n] // 'thread ' . ($n + 1);
        }
        my $pran = $exec_name{$parent->{parent}} // '';
        return 'the shell of system()' if ($ran // '') =~ /^(sh|dash|bash)$/ && $pran !~ /^(sh|dash|bash)$/;
        return $ran if defined $ran && $ran ne $pran;
        return 'child';
    }
    my $command = $command_of{$f} // '';
    if (partner_file($f)) {
        my ($word) = $command =~ /^\s*(\S+)/;
        $word //= '?';
        $word =~ s{.*/}{};
        return "the tour's $word" if $word =~ /^(kill|printf|echo)$/;
        return $word;
    }
    return $ran // $stop // 'program';
}
# Runs of one command one after another (the tour's kills, a program run twice) share a lane.
{
    my (%span, %by_name, @keep, %seen);
    for my $e (@events) { my $s = $span{$e->{lane}} //= [$e->{seq}, $e->{seq}]; $s->[0] = $e->{seq} if $e->{seq} < $s->[0]; $s->[1] = $e->{seq} if $e->{seq} > $s->[1] }
    for my $l (0 .. $#lanes) { $lanes[$l]{name} = lane_name($lanes[$l]{key}) }
    # A child appears where it is made: two threads made one after the other keep that order,
    # whichever of them makes its first call first.
    for my $l (0 .. $#lanes) {
        my $p = $parent_of{$lanes[$l]{key}} or next;
        $span{$l}[0] = $p->{event}{seq} if $span{$l} && $p->{event}{seq} < $span{$l}[0];
    }
    my @order = sort { ($span{$a} ? $span{$a}[0] : 1e18) <=> ($span{$b} ? $span{$b}[0] : 1e18) } 0 .. $#lanes;
    my %new_index;
    for my $l (@order) {
        my $name = $lanes[$l]{name};
        my $to = $by_name{$name};
        $to = undef if defined $to && $span{$to} && $span{$l} && $span{$to}[1] >= $span{$l}[0];
        if (defined $to && $span{$l} && $span{$to} && $span{$to}[1] < $span{$l}[0] && !$parent_of{$lanes[$l]{key}}) {
            $new_index{$l} = $new_index{$to};
            $span{$to}[1] = $span{$l}[1];
            $keep[$new_index{$to}]{runs}++;
        } else {
            my $n = ++$seen{$name};
            $name .= ", run $n" if $n > 1; # beside the first
            $lanes[$l]{name} = $name;
            push @keep, {%{$lanes[$l]}, runs => 1};
            $new_index{$l} = $#keep;
            $by_name{$name} = $l;
        }
    }
    $_->{lane} = $new_index{$_->{lane}} for @events;
    $lane_of{$_} = $new_index{$lane_of{$_}} for keys %lane_of;
    @lanes = @keep;
}

# The signal's sender: the traced kill before it that si_pid names (else the first such kill
# to its process), or, where si_pid names no traced process, the tour's own shell.
my %pid_lane; # pid => lane, over all files and every run of a shared lane
for my $k (keys %lane_of) { my (undef, $pid) = split /:/, $k; $pid_lane{$pid} //= $lane_of{$k} }
sub arrow {
    my ($from, $to, $kind, $or_from) = @_;
    ($from, $or_from) = ($or_from, undef) unless $from;
    return unless $from && $to;
    push @arrows, {from => $from, to => $to, kind => $kind, or_from => $or_from};
}
my %by_record = map { $_->{record}{seq} => $_ } @events;
for my $e (sort { $a->{seq} <=> $b->{seq} } grep { $_->{signal} } @events) {
    my (undef, $pid) = split /:/, $e->{run};
    # a kill to a process group (0 or below) may be any process's
    my @sent = grep { !$_->{used} && $_->{kill} eq $e->{signal} && $_->{seq} < $e->{seq} && ($_->{target} eq $pid || $_->{target} =~ /^(-\d+|0)$/) } @pending_kills;
    my ($k) = defined $e->{from} ? grep { $_->{record}{pid} eq $e->{from} } @sent : ();
    $k //= $sent[0] unless defined $e->{from} && !exists $pid_lane{$e->{from}};
    if ($k) { $k->{used} = 1; arrow($k, $e, $e->{signal} eq 'SIGRTMIN' ? 'cancel' : 'signal'); next }
    next unless defined $e->{from} && !exists $pid_lane{$e->{from}};
    my $l = lane('sender'); # every sender that was not traced: the tour's own shell
    $lanes[$l]{name} = 'the tour (not traced)';
    my $s = {lane => $l, time => $e->{time}, seq => $e->{seq} - 0.5, label => "kill $e->{signal}", record => {seq => $e->{seq} - 0.5}};
    push @events, $s;
    arrow($s, $e, 'signal');
}

# fork/clone to the child's first call; a child's end to the wait4 that reaped it, a thread's
# end to the join that waited for it.
# A thread's exit wakes its joiner before strace reports the end: the arrow starts at whichever
# of the two comes first in the drawing before the join returns (see the rows).
my (%end_of, %exit_of);
$end_of{$_->{run}} = $_ for grep { $_->{end} } @events;
$exit_of{$_->{run}} = $_ for grep { $_->{exit_call} } @events;
my %first_of;
for my $e (sort { $a->{seq} <=> $b->{seq} } grep { defined $_->{run} } @events) { $first_of{$e->{run}} //= $e }
for my $e (grep { $_->{spawn} } @events) { arrow($e, $first_of{$e->{spawn}}, $e->{thread} ? 'thread' : 'fork') }
for my $e (grep { $_->{reaps} } @events) { arrow($end_of{$e->{reaps}}, $e, 'reap') }
for my $e (grep { $_->{joins} } @events) {
    arrow($end_of{$e->{joins}}, $e, 'join', $exit_of{$e->{joins}});
}

# connect to the accept that took it: by both ends, where the trace shows the connecting
# socket's own port (the peer that accept returned); else the same listening address and port,
# first come first taken. Then each read of the accepted socket from the send that its first
# byte came in.
sub end_seq { my ($e) = @_; return $e->{record}{ended} ? $e->{record}{ended}{seq} : $e->{seq} } # where a call returned
for my $acc (sort { end_seq($a->{event}) <=> end_seq($b->{event}) } @accepts) {
    my @open = grep { !$_->{taken} && !$_->{refused} && $_->{addr} eq $acc->{addr} && $_->{event}{seq} < end_seq($acc->{event}) } @connects;
    my ($c) = grep { defined $_->{sock} && defined $acc->{peer} && ($local_end{$_->{sock}} // '') eq $acc->{peer} } @open;
    ($c) = grep { !defined $_->{sock} || !defined $local_end{$_->{sock}} } @open unless $c;
    next unless $c;
    $c->{taken} = 1;
    arrow($c->{event}, $acc->{event}, 'connect');
    my @sends = sort { $a->{seq} <=> $b->{seq} } grep { !$_->{reading} && defined $c->{sock} && $_->{sock} == $c->{sock} && key_of($_->{record}) eq $c->{key} } grep { $_->{sock} } @events;
    my @reads = sort { end_seq($a) <=> end_seq($b) } grep { $_->{reading} && $_->{sock} == $acc->{sock} && $_->{bytes} > 0 } grep { $_->{sock} } @events;
    my ($sent, $got, $i) = (0, 0, 0);
    for my $rd (@reads) {
        $sent += $sends[$i++]{bytes} while $i < @sends && $sent <= $got;
        arrow($sends[$i - 1], $rd, 'data') if $i > 0 && $sends[$i - 1]{seq} < end_seq($rd);
        $got += $rd->{bytes};
    }
}

# A queue: its creation to each later call on it in another lane.
{
    my %made;
    for my $e (sort { $a->{seq} <=> $b->{seq} } grep { defined $_->{queue} } @events) {
        if ($e->{creates}) { $made{$e->{queue}} //= $e; next }
        my $m = $made{$e->{queue}} or next;
        next if $m->{lane} == $e->{lane} || $e->{record}{name} eq 'msgget';
        arrow($m, $e, 'queue');
    }
}

# --- rows ---------------------------------------------------------------------------------------------
# Events in time order; a call begun and ended apart shows both. Events of different lanes at
# the same time share a row.
my @rows;
{
    my @all;
    for my $e (@events) {
        push @all, [$e->{seq}, $e];
        if ($e->{blocking} && $e->{record}{ended}) {
            # Drawn where it ended; an arrow points there.
            $e->{begin_seq} = $e->{seq};
            $e->{seq} = $e->{record}{ended}{seq};
            $e->{time} = $e->{record}{ended}{time} // $e->{time};
            $all[-1][0] = $e->{seq};
            my $b = {lane => $e->{lane}, run => $e->{run}, time => $e->{record}{time} // 0, seq => $e->{begin_seq}, label => "$e->{label} \x{2026}", begun => 1};
            push @all, [$b->{seq}, $b];
            $e->{begun_part} = $b;
            $e->{label} = "\x{2026} $e->{label} returns";
        }
    }
    @all = sort { $a->[0] <=> $b->[0] } @all;
    # A write that another lane's event came in during (begun and ended apart) shares its row
    # with that event: which of the two came first is not known.
    my ($last, $until);
    for my $pair (@all) {
        my $e = $pair->[1];
        my $share = $last && !grep { $_->{lane} == $e->{lane} } @{$rows[-1]};
        $share &&= ($timed && $last->{time} == $e->{time}) || (defined $until && $e->{seq} < $until);
        unless ($share) { push @rows, []; $until = undef }
        push @{$rows[-1]}, $e;
        $e->{row} = $#rows;
        $last = $e;
        my $ended = $e->{output} && !$e->{continued} && $e->{record}{ended};
        $until = $ended->{seq} if $ended && (!defined $until || $ended->{seq} > $until);
    }
}
for my $a (@arrows) { # the thread's exit call, where its end is drawn after the join returned
    $a->{from} = $a->{or_from} if $a->{or_from} && $a->{from}{row} >= $a->{to}{row} && $a->{or_from}{row} < $a->{to}{row};
    # a connect that waited and returned after the accept that took it: the connection was made
    # while it waited, so its arrow leaves from where the call began
    $a->{from} = $a->{from}{begun_part} if $a->{kind} eq 'connect' && $a->{from}{begun_part} && $a->{from}{row} >= $a->{to}{row};
}
@arrows = grep { $_->{from}{row} < $_->{to}{row} || ($_->{from}{row} == $_->{to}{row} && $_->{from}{lane} != $_->{to}{lane}) } @arrows;
$_->{to}{arrow_in} = $_ for @arrows;

# --- the drawings -------------------------------------------------------------------------------------
# Each lane's lifelines, from the first row to the last of each process drawn in it: a lane that
# several runs of one command share has none between one run's end and the next one's start.
sub lifelines {
    my (%span, @lines);
    for my $r (0 .. $#rows) {
        for my $e (@{$rows[$r]}) {
            my $s = $span{$e->{lane}}{$e->{run} // ''} //= [$r, $r];
            $s->[1] = $r;
        }
    }
    for my $l (keys %span) { push @{$lines[$l]}, values %{$span{$l}} }
    return @lines;
}
sub alive { # in row $r, lane $l's line comes from above
    my ($lines, $l, $r) = @_;
    return grep { $r > $_->[0] && $r <= $_->[1] } @{$lines->[$l] // []};
}

my %arrow_word = (fork => 'fork', thread => 'thread', reap => 'reaped', join => 'joined', signal => 'signal',
    cancel => 'cancel', connect => 'connection', data => 'data', queue => 'queue');

sub text_drawing {
    my $n = @lanes;
    my $gutter = 4;
    my $col = int(($width - $gutter) / $n);
    $col = 10 if $col < 10;
    my @out;
    my @names = map { short($_->{name}, $col - 1) } @lanes;
    push @out, (sprintf('%*s', $gutter, '') . join('', map { sprintf('%-*s', $col, $_) } @names)) =~ s/\s+$//r;
    my @lines = lifelines();
    for my $r (0 .. $#rows) {
        my @cell = map { alive(\@lines, $_, $r) ? "\x{2502}" : ' ' } 0 .. $n - 1;
        my @fill = ('') x $n; # an arrow's line through the columns between its ends
        for my $e (@{$rows[$r]}) {
            my $label = $e->{label};
            if (my $a = $e->{arrow_in}) {
                my ($from, $to) = ($a->{from}{lane}, $e->{lane});
                my $tag = $arrow_word{$a->{kind}} . ($a->{from}{row} == $r ? '' : ' from ' . ($a->{from}{row} + 1));
                # Where the whole tag does not fit, the row it comes from is kept before the word.
                my @tags = ($tag, $a->{from}{row} == $r ? () : ('from ' . ($a->{from}{row} + 1), $a->{from}{row} + 1));
                my @between = $from < $to ? ($from .. $to - 1) : ($to + 1 .. $from);
                @between = grep { my $l = $_; !grep { $_->{lane} == $l } @{$rows[$r]} } @between; # a lane's own event stays
                ($tag) = ((grep { length($_) <= $col * @between - 3 } @tags), $tag);
                my $line = "\x{2500}$tag" . "\x{2500}" x ($col * @between);
                $line = substr($line, 0, $col * @between - 1);
                if ($from < $to) { $line .= "\x{25B6}" } else { $line = "\x{25C0}" . substr($line, 0, -1) . ' ' }
                $line = '' unless @between && $between[-1] - $between[0] == $#between;
                $fill[$_] = substr($line, ($_ - $between[0]) * $col, $col) for @between;
                if ($from == $to || !length $line) {
                    my ($inline) = ((grep { length(" ($_)") <= $col - 7 } @tags), $tag);
                    $label = fit($label, $col - 1 - length(" ($inline)")) . " ($inline)";
                }
            }
            $cell[$e->{lane}] = $label;
        }
        my $line = sprintf('%3d ', $r + 1);
        for my $l (0 .. $n - 1) {
            my $c = length $fill[$l] ? $fill[$l] : fit($cell[$l], $col - 1);
            $line .= $c . ' ' x ($col - length $c);
        }
        $line =~ s/\s+$//;
        push @out, $line;
    }
    return @out;
}

sub arrow_sentence {
    my ($a) = @_;
    return "$arrow_word{$a->{kind}} from $lanes[$a->{from}{lane}]{name} (row " . ($a->{from}{row} + 1) . ')';
}

sub list_items {
    my @items;
    for my $r (0 .. $#rows) {
        for my $e (@{$rows[$r]}) {
            my $item = 'row ' . ($r + 1) . ": $lanes[$e->{lane}]{name}: $e->{label}";
            $item .= '; ' . arrow_sentence($e->{arrow_in}) if $e->{arrow_in};
            push @items, $item;
        }
    }
    return @items;
}

sub xml { my ($s) = @_; $s =~ s/&/&amp;/g; $s =~ s/</&lt;/g; $s =~ s/>/&gt;/g; $s =~ s/"/&quot;/g; return $s }

# The picture: lanes 200 wide, rows 22 high; each label's extent is fixed by textLength, so that
# where it lies is in the SVG itself (the tests read it there).
sub svg_drawing {
    my ($lane_w, $row_h, $top, $left, $char) = (200, 22, 46, 34, 7);
    my $max = int(($lane_w - 14) / $char);
    my $w = $left + @lanes * $lane_w;
    my $h = $top + @rows * $row_h + 10;
    my $svg = qq(<svg class="timeline" fill="currentColor" role="img" aria-label="timeline of the stop's processes and threads: the list below holds the same events" width="$w" height="$h" viewBox="0 0 $w $h" font-family="monospace" font-size="12">\n);
    my $x = sub { $left + $_[0] * $lane_w + 6 };
    my $label_w = sub { length(fit($_[0]{label}, $max)) * $char };
    my $y = sub { $top + $_[0] * $row_h + 11 };
    my @lines = lifelines();
    for my $l (0 .. $#lanes) {
        my $name = short($lanes[$l]{name}, $max);
        my $len = length($name) * $char;
        $svg .= sprintf(qq(<text class="tl-lane" x="%d" y="%d" textLength="%d" lengthAdjust="spacingAndGlyphs" font-weight="bold">%s</text>\n), $x->($l), 24, $len, xml($name));
        for my $span (sort { $a->[0] <=> $b->[0] } @{$lines[$l] // []}) {
            $svg .= sprintf(qq(<line class="tl-life" x1="%d" y1="%d" x2="%d" y2="%d" stroke="currentColor" stroke-opacity="0.35"/>\n),
                $x->($l), $y->($span->[0]) - 8, $x->($l), $y->($span->[1]) + 8);
        }
    }
    for my $r (0 .. $#rows) {
        $svg .= sprintf(qq(<text class="tl-row" x="2" y="%d" textLength="%d" lengthAdjust="spacingAndGlyphs" fill-opacity="0.6">%d</text>\n), $y->($r) + 4, length($r + 1) * $char, $r + 1);
        for my $e (@{$rows[$r]}) {
            my $label = fit($e->{label}, $max);
            $svg .= sprintf(qq(<circle cx="%d" cy="%d" r="3" fill="currentColor"/>\n), $x->($e->{lane}), $y->($r));
            $svg .= sprintf(qq(<text class="tl-event" x="%d" y="%d" textLength="%d" lengthAdjust="spacingAndGlyphs">%s</text>\n),
                $x->($e->{lane}) + 6, $y->($r) + 4, length($label) * $char, xml($label));
        }
    }
    for my $a (@arrows) {
        my ($x1, $y1, $x2, $y2) = ($x->($a->{from}{lane}), $y->($a->{from}{row}), $x->($a->{to}{lane}), $y->($a->{to}{row}));
        # Never across the labels at its ends: leftward it ends after the target's label,
        # rightward it starts after the source's.
        $x2 += 10 + $label_w->($a->{to}) if $a->{from}{lane} > $a->{to}{lane};
        $x1 += 10 + $label_w->($a->{from}) if $a->{from}{lane} < $a->{to}{lane};
        my $dash = {signal => '6 3', cancel => '2 2', data => '1 3', queue => '8 2 2 2'}->{$a->{kind}} // '';
        # The head: a triangle drawn where the line ends, pointing along it (the page refers to nothing).
        my ($dx, $dy) = ($x2 - $x1, $y2 - $y1);
        my $len = sqrt($dx * $dx + $dy * $dy) || 1;
        ($dx, $dy) = ($dx / $len, $dy / $len);
        my @head = ($x2, $y2, $x2 - 8 * $dx + 4 * $dy, $y2 - 8 * $dy - 4 * $dx, $x2 - 8 * $dx - 4 * $dy, $y2 - 8 * $dy + 4 * $dx);
        $svg .= sprintf(qq(<g class="tl-arrow tl-%s"><title>%s</title><line x1="%d" y1="%d" x2="%.1f" y2="%.1f" stroke="currentColor" stroke-width="1.5"%s/><path d="M%.1f,%.1f L%.1f,%.1f L%.1f,%.1f z" fill="currentColor"/></g>\n),
            $a->{kind}, xml(arrow_sentence($a)), $x1, $y1, $x2 - 6 * $dx, $y2 - 6 * $dy, $dash ? qq( stroke-dasharray="$dash") : '', @head);
    }
    return "$svg</svg>";
}

sub structure {
    my @out = map { "lane $_->{name}" } @lanes;
    for my $a (sort { $a->{to}{row} <=> $b->{to}{row} || $a->{from}{row} <=> $b->{from}{row} } @arrows) {
        push @out, "arrow $a->{kind}: $lanes[$a->{from}{lane}]{name} -> $lanes[$a->{to}{lane}]{name}";
    }
    return @out;
}

sub audit {
    my @out;
    for my $r (sort { $a->{file} <=> $b->{file} || $a->{line} <=> $b->{line} } grep { !$_->{synthetic} } @records) {
        my $why = $r->{kind} eq 'unexplained' ? 'unexplained'
            : $r->{kind} eq 'cut' ? 'left out: the trace ends in the middle of this line'
            : $r->{kind} eq 'blank' ? 'left out: an empty line'
            : $r->{kind} eq 'notice' ? "left out: strace's own notice"
            : $r->{placed} ? 'placed'
            : $r->{rule} ? $r->{rule}
            : $r->{kind} eq 'call' && $r->{part} eq 'end' && $r->{begun} ? 'placed with the call it resumes'
            : $r->{kind} eq 'call' && $r->{part} eq 'end' ? 'left out: the resumed end of a call begun before the trace'
            : $r->{kind} eq 'call' ? 'left out: a call that carries no cause between lanes and is not in the lesson'
            : 'unexplained';
        push @out, "$files[$r->{file}]:$r->{line}\t$why\t$r->{text}";
    }
    return @out;
}

# --- output ---------------------------------------------------------------------------------------------
binmode STDOUT, ':utf8'; # perl-base has no :encoding layer (PerlIO::encoding)
sub field { my ($s) = @_; $s =~ s/\\/\\\\/g; $s =~ s/\t/\\t/g; $s =~ s/\n/\\n/g; return $s }
sub emit { print join("\t", map { field($_) } @_), "\n" }

if ($mode eq 'audit') { print "$_\n" for audit(); exit($unexplained ? 1 : 0) }
if ($mode eq 'structure') { print "$_\n" for structure(); exit 0 }
if ($mode eq 'text') { print "$_\n" for text_drawing(); exit 0 }
if ($mode eq 'svg') { print svg_drawing(), "\n"; exit 0 }

# --events
my $why_not = $no_timeline{$stop};
$why_not //= "no timeline: $absent[0]" if @absent;
$why_not //= 'no timeline: nothing was traced.' unless @events;
if (defined $why_not) { emit('timeline-none', $why_not); exit 0 }
emit('timeline-begin', 'Timeline: its processes and threads, time downward (from the same traced run)');
emit('tline', $_) for text_drawing();
emit('timeline-note', $stop_note{$stop}) if $stop_note{$stop};
emit('timeline-note', 'A signal\'s sender that was not traced (the tour\'s own shell) is drawn from the signal\'s si_pid.')
    if grep { $_->{name} eq 'the tour (not traced)' } @lanes;
emit('timeline-note', 'Events in one row happened at the same time as far as the trace can tell: their order is not known.') if grep { @$_ > 1 } @rows;
emit('timeline-svg', svg_drawing());
emit('timeline-item', $_) for list_items();
emit('timeline-end');


#!/usr/bin/perl
# For ./tour: runs one shown command line with bash and turns what it prints into the tour's
# events: "out LINE" and "err LINE" (or "KIND LINE" for both with --merge KIND), "out-part TEXT"
# for the start of a line that has not ended yet (or of a long one), then "out-end TEXT"; a
# backslash or tab in a line is written \\ or \t, as ./tour says.
# Standard output and standard error are two pipes (or a pseudo-terminal and a pipe), and the
# order of writes to two pipes cannot be read back from them: the lines are passed on in groups,
# each ending at a moment when nothing waits on either stream, so that all a group holds was
# written before all that follows. A group that holds lines of both streams is preceded by
# "unordered N" (its N lines' order between the two streams is not known), unless a trace of the
# run (--trace) orders them: then they come in the order of the writes it shows. Options:
#   --pty          standard output (and with --merge, standard error) is a pseudo-terminal:
#                  the command's stdio then writes each line as it ends, as on a terminal
#   --merge KIND   standard output and standard error as one stream, each line "KIND LINE"
#   --log FILE     each line also appended to FILE, after its event is out
#   --status       a "status N" event when the command ends with N other than 0
#   --show-if RE   events only when the first line matches Perl regular expression RE (a
#                  server that got its address); the log has every line all the same
#   --trace FILE   the command writes an strace log to FILE (-f -q -y, whole strings, the
#                  writes and the calls that make or end processes among its calls): every
#                  event waits for the end, and lines of both streams read at once are put in
#                  the order of their writes there
#   --failed CALLS with --trace: the lines that strace -f -q -Z -e trace=CALLS would have written
#                  to standard error in that run (the failed calls of CALLS as it shows them
#                  without -y and -s, the signals, each process's end) are shown as standard
#                  error's, each at its place among the writes
# The exit status is the command's (128 + N when signal N ended it).
use strict;
use warnings;
use POSIX qw(:sys_wait_h :termios_h :fcntl_h);

my ($pty, $merge, $log, $status_event, $show_if, $trace, $failed) = (0, undef, undef, 0, undef, undef, undef);
while (@ARGV && $ARGV[0] =~ /^--/) {
    my $option = shift @ARGV;
    last if $option eq '--';
    if ($option eq '--pty') { $pty = 1 }
    elsif ($option eq '--merge') { $merge = shift @ARGV }
    elsif ($option eq '--log') { $log = shift @ARGV }
    elsif ($option eq '--status') { $status_event = 1 }
    elsif ($option eq '--show-if') { $show_if = shift @ARGV }
    elsif ($option eq '--trace') { $trace = shift @ARGV }
    elsif ($option eq '--failed') { $failed = shift @ARGV }
    else { die "tour-run: unknown option $option\n" }
}
my $command = shift @ARGV;
my $shell = $ENV{BASH} || 'bash';
binmode STDOUT;
STDOUT->autoflush(1);
my $log_fh;
if (defined $log) {
    open $log_fh, '>>', $log or die "tour-run: $log: $!\n";
    $log_fh->autoflush(1);
}

# A pseudo-terminal without IO::Pty: the Linux requests that unlock the new terminal and tell
# its number. Where that fails, a pipe does, and only the pacing is lost.
sub open_pty {
    sysopen(my $master, '/dev/ptmx', O_RDWR | O_NOCTTY) or return;
    my $unlock = pack 'i', 0;
    my $number = pack 'I', 0;
    ioctl($master, 0x40045431, $unlock) or return;    # TIOCSPTLCK
    ioctl($master, 0x80045430, $number) or return;    # TIOCGPTN
    my $name = '/dev/pts/' . unpack('I', $number);
    sysopen(my $slave, $name, O_RDWR | O_NOCTTY) or return;
    my $mode = POSIX::Termios->new;
    if ($mode->getattr(fileno $slave)) { # lines end in \n, not \r\n; nothing echoed
        $mode->setoflag($mode->getoflag & ~OPOST);
        $mode->setlflag($mode->getlflag & ~(ECHO | ICANON));
        $mode->setattr(fileno $slave, TCSANOW);
    }
    return ($master, $slave, $name);
}

my ($out_read, $out_write, $err_read, $err_write, $pty_name);
($out_read, $out_write, $pty_name) = open_pty() if $pty;
pipe($out_read, $out_write) or die "tour-run: pipe: $!\n" unless $out_write;
pipe($err_read, $err_write) or die "tour-run: pipe: $!\n" unless defined $merge;

my $child = fork // die "tour-run: fork: $!\n";
if ($child == 0) {
    open STDIN, '<', '/dev/null';
    open STDOUT, '>&', $out_write or die "tour-run: $!\n";
    open STDERR, '>&', (defined $merge ? $out_write : $err_write) or die "tour-run: $!\n";
    close $_ for grep { defined } $out_read, $err_read, $out_write, $err_write;
    # As a shell at a prompt runs it: the shell forks each program of the line. Given the line
    # alone, bash -c would replace itself with the last program, whose page faults and memory
    # would then include the shell's own start-up (loadmeter's figures, say); the exit after it
    # keeps the shell. In POSIX mode a shell that is not interactive does not report a program
    # ended by a signal on its standard error, which is the program's: the tour says it itself.
    exec { $shell } 'bash', '--posix', '-c', "$command\nexit \$?" or die "tour-run: $shell: $!\n";
}
close $out_write;
close $err_write if $err_write;

my %kind = (fileno $out_read => $merge // 'out');
$kind{ fileno $err_read } = 'err' if $err_read;
my %handle = map { fileno $_ => $_ } grep { defined } $out_read, $err_read;
my %pending = map { $_ => '' } keys %handle; # the start of a line, already read as a part
my %offset = map { $_ => 0 } keys %handle;   # bytes of the stream read so far
# What each stream is, as strace -y names a descriptor: "pipe:[INODE]", or the terminal's path.
my %named = (fileno $out_read => $pty_name // 'pipe:[' . (stat $out_read)[1] . ']');
$named{ fileno $err_read } = 'pipe:[' . (stat $err_read)[1] . ']' if $err_read;

# Events wait here until the first line decides whether they are shown (--show-if).
my ($shown, @held) = (defined $show_if ? undef : 1);
my %escape = ("\\" => "\\\\", "\t" => '\t');
sub put { # each event one write, under PIPE_BUF: other writers' events never come between
    syswrite STDOUT, $_ for @_;
}

# Event KIND (out, out-part, out-end...) with TEXT, as the stream writes it: a long text in
# pieces of at most 2000 bytes (escaped, at most twice that), the first ones as KIND-part
# events. $line is the whole line when this event ends one.
sub event {
    my ($kind, $text, $line) = @_;
    my ($base, $piece) = $kind =~ /^(.*?)(-part|-end)?$/;
    my @events;
    while (length $text > 2000) {
        push @events, "$base-part\t" . (substr($text, 0, 2000, '') =~ s/([\\\t])/$escape{$1}/gr) . "\n";
    }
    $kind = "$base-end" if @events && !$piece;
    push @events, "$kind\t" . ($text =~ s/([\\\t])/$escape{$1}/gr) . "\n";
    if (!defined $shown && defined $line) {
        $shown = $line =~ /$show_if/ ? 1 : 0;
        put(@held) if $shown;
    }
    if (!defined $shown) { push @held, @events }
    elsif ($shown) { put(@events) }
}

# A piece of a stream as read: {fd, kind => line (a whole line), part (the start of one) or end
# (its rest), text, line (the whole line, for line and end), at (its first byte's offset)}.
my @group;      # pieces read since the last moment nothing waited on either stream
my @later;      # with --trace: the groups, each a reference to its pieces, until the end

my %begun; # descriptor => its last piece shown was the start of a line
sub piece_event {
    my ($p) = @_;
    $begun{ $p->{fd} } = $p->{kind} eq 'part';
    my $kind = $kind{ $p->{fd} } . ($p->{kind} eq 'line' ? '' : "-$p->{kind}");
    event($kind, $p->{text}, $p->{line});
    print $log_fh "$p->{line}\n" if $log_fh && defined $p->{line};
}

# The lines that pieces start: a line's start counts, its rest (read with it) does not.
sub lines_of { scalar grep { $_->{kind} ne 'end' } @_ }

# Shows a group: in the order it was read, with "unordered N" first when it holds both streams.
# The rest of a line begun in an earlier group comes first, before the note: on a terminal its
# start is already out, and nothing may come between the two halves. For the same reason the
# start of a line whose rest has not come yet goes last: the order between the two streams
# within the group is not known anyway, each stream's own order is kept.
sub show_group {
    my (@first, @rest, %in_rest);
    my %open = %begun;
    for my $p (@_) {
        my $fd = $p->{fd};
        if ($open{$fd} && !$in_rest{$fd}) { push @first, $p; $open{$fd} = $p->{kind} eq 'part' }
        else { push @rest, $p; $in_rest{$fd} = 1 }
    }
    my %whole; # descriptor => the index in @rest of its last piece that ends a line
    $rest[$_]{kind} ne 'part' and $whole{ $rest[$_]{fd} } = $_ for 0 .. $#rest;
    my @trailing = grep { $_ > ($whole{ $rest[$_]{fd} } // -1) } 0 .. $#rest;
    my %trailing = map { $_ => 1 } @trailing;
    @rest = ((map { $rest[$_] } grep { !$trailing{$_} } 0 .. $#rest), map { $rest[$_] } @trailing);
    piece_event($_) for @first;
    my %fds = map { $_->{fd} => 1 } @rest;
    put("unordered\t" . lines_of(@rest) . "\n") if keys %fds > 1 && (!defined $shown || $shown);
    piece_event($_) for @rest;
}

sub end_group {
    return unless @group;
    if (defined $trace) { push @later, [@group] }
    else { show_group(@group) }
    @group = ();
}

# True when nothing waits to be read on either stream at this moment.
sub nothing_waiting {
    my $ready = '';
    vec($ready, $_, 1) = 1 for keys %handle;
    my $n;
    do { $n = select($ready, undef, undef, 0) } while $n < 0 && $!{EINTR};
    return $n == 0;
}

sub take {
    my ($fd, $kind, $text, $line) = @_;
    my $size = length($text) + ($kind eq 'part' ? 0 : 1);
    push @group, { fd => $fd, kind => $kind, text => $text, line => $line, at => $offset{$fd} };
    $offset{$fd} += $size;
}

while (%handle) {
    my $ready = '';
    vec($ready, $_, 1) = 1 for keys %handle;
    my $n = select($ready, undef, undef, undef);
    next if $n < 0 && $!{EINTR};
    die "tour-run: select: $!\n" if $n < 0;
    # Within a group the order between the streams is not known, and the group says so: standard
    # error's pieces are taken first, as its lines are written at once and so are often older.
    for my $fd (sort { ($kind{$b} eq 'err') <=> ($kind{$a} eq 'err') || $a <=> $b } keys %handle) {
        next unless vec($ready, $fd, 1);
        my $got = sysread($handle{$fd}, my $data, 65536);
        next if !defined $got && $!{EINTR};
        if (!$got) { # the end (EIO: a pseudo-terminal that nobody holds any more)
            take($fd, 'end', '', $pending{$fd}) if length $pending{$fd};
            $pending{$fd} = '';
            delete $handle{$fd};
            next;
        }
        my @lines = split /\n/, $data, -1;
        my $rest = pop @lines;
        if (@lines) {
            my $first = shift @lines;
            if (length $pending{$fd}) { take($fd, 'end', $first, "$pending{$fd}$first") }
            else { take($fd, 'line', $first, $first) }
            $pending{$fd} = '';
            take($fd, 'line', $_, $_) for @lines;
        }
        if (length $rest) {
            take($fd, 'part', $rest);
            $pending{$fd} .= $rest;
        }
    }
    end_group() if keys %handle < 2 || nothing_waiting();
}
end_group();
waitpid($child, 0);
my $status = WIFSIGNALED($?) ? 128 + WTERMSIG($?) : WEXITSTATUS($?);
show_traced() if defined $trace;
put("status\t$status\n") if $status_event && $status != 0;
exit $status;

# --- the order of the writes, from the trace ---------------------------------------------------

# The bytes of a string as strace writes it (C escapes; -x's \xHH too).
sub unescape {
    my ($s) = @_;
    my %c = (n => "\n", t => "\t", r => "\r", v => "\x0b", f => "\f", a => "\a", b => "\b");
    $s =~ s{\\(?:([0-7]{1,3})|x([0-9a-fA-F]{2})|(.))}{defined $1 ? chr(oct $1) : defined $2 ? chr(hex $2) : $c{$3} // $3}gse;
    return $s;
}

# The trace, read once: for each stream (descriptor of ours => ordinal), the write that put each
# byte there, as a map "fd offset" => the number of the trace's line that ends the write, for
# the first byte of every piece found; and with --failed, what strace would have written to
# standard error, each line [number of the trace's line it stands for, text].
sub read_trace {
    my ($file) = @_;
    open my $in, '<', $file or return ({}, []);
    my (%open, @writes, @said, %alive, %seen, $first);
    my %stream = reverse %named; # strace's name => our descriptor
    my %shown_call = map { $_ => 1 } split /,/, $failed // '';
    # strace names the process in front of a line only while it traces more than one: that is
    # the first, until it lets a child go that runs another program (-b execve) or a process ends.
    my $leader = sub { keys %alive > 1 ? sprintf('[pid %5u] ', $_[0]) : '' };
    while (my $line = <$in>) {
        chomp $line;
        my ($pid, $rest) = $line =~ /^(\d+) +(.*)$/ or next;
        $first //= $pid;
        $alive{$pid} = 1 unless $seen{$pid}++;
        delete $alive{$pid} if $pid != $first && $rest =~ /^execve\(/;
        if ($rest =~ /^(.*) <unfinished \.\.\.>$/) { $open{$pid} = $1; next }
        if ($rest =~ /^<\.\.\. [a-z0-9_]+ resumed>(.*)$/) { $rest = ($open{$pid} // '') . $1; delete $open{$pid} }
        if ($rest =~ /^(?:clone3?|v?fork)\(.*\) += ([1-9]\d*)$/) {
            $alive{$1} = 1 unless $seen{$1}++;
        } elsif ($rest =~ /^(?:---|\+\+\+) .* (?:---|\+\+\+)$/) {
            push @said, [$., $leader->($pid) . $rest] if defined $failed;
            delete $alive{$pid} if $rest =~ /^\+\+\+ /;
        } elsif ($rest =~ /^([a-z0-9_]+)\(/ && $shown_call{$1} && $rest =~ /\) += (?:-1|\?) E[A-Z0-9]+ \([^()]*\)(?: \(INJECTED\))?$/) {
            # its result where strace puts it, in column 40 unless the call is longer
            my ($call, $result) = plainly($rest) =~ /^(.*\)) +(= .*)$/;
            push @said, [$., sprintf('%-39s %s', $leader->($pid) . $call, $result)];
        }
        next unless $rest =~ /^write\(\d+<([^>]*)>, "(.*)"(?:\.\.\.)?, \d+\) += (\d+)$/;
        my ($name, $text, $written) = ($1, $2, $3);
        next unless exists $stream{$name} && $written > 0;
        push @writes, [$stream{$name}, substr(unescape($text), 0, $written), $written, $.];
    }
    # Each stream's pieces are found in its writes, in order: a write of a process outside the
    # trace (the shell, another program of the line) is what lies between two of them.
    my %key;
    for my $fd (keys %offset) {
        my ($all, @starts) = ('');
        for my $p (grep { $_->{fd} == $fd } map { @$_ } @later) {
            push @starts, $p->{at};
            $all .= $p->{text} . ($p->{kind} eq 'part' ? '' : "\n");
        }
        my ($from, @owner) = (0);
        for my $write (grep { $_->[0] == $fd } @writes) {
            my $at = index $all, $write->[1], $from;
            next if $at < 0;
            $owner[$_] = $write->[3] for $at .. $at + $write->[2] - 1;
            $from = $at + $write->[2];
        }
        $key{"$fd $_"} = $owner[$_] for grep { defined $owner[$_] } @starts;
    }
    return (\%key, \@said);
}

# A call as strace shows it without -y and -s: no descriptor's name after its number, strings
# cut after 32 bytes. A string is read a character at a time: one of 100000 escapes (spill's
# zeros) overflows a repeated group of a regular expression.
sub plainly {
    my ($call) = @_;
    my $plain = '';
    while ((pos($call) // 0) < length $call) {
        if ($call =~ /\G"/gc) {
            my ($n, $kept) = (0, '"');
            while ($call =~ /\G(\\(?:[0-7]{1,3}|x[0-9a-fA-F]{2}|.)|[^"\\])/gc) { $kept .= $1 if ++$n <= 32 }
            my $more = $call =~ /\G"(\.\.\.)?/gc ? $1 // '' : '';
            $plain .= $n > 32 ? "$kept\"..." : "$kept\"$more";
        } elsif ($call =~ /\G(\d+)<[^<>"]*>/gc) {
            $plain .= $1;
        } else {
            $call =~ /\G([^"\d]+|\d+|.)/gcs;
            $plain .= $1;
        }
    }
    return $plain;
}

# The lines at the end, in the order of the writes: each group's, sorted where it holds both
# streams; and strace's lines (--failed), each before the first line written after its place in
# the trace, those after the last write right after that write's line (before what a later
# command of the line printed), never inside a line of standard error that has begun.
sub show_traced {
    my ($key, $said) = read_trace($trace);
    my @items; # [key, pieces, ordered]: a piece, or a group whose order is not known
    for my $group (@later) {
        my @sorted = in_write_order($key, @$group);
        if (@sorted) { push @items, map { [$key->{"$_->{fd} $_->{at}"}, [$_], 1] } @sorted }
        else {
            my ($least) = sort { $a <=> $b } grep { defined } map { $key->{"$_->{fd} $_->{at}"} } @$group;
            push @items, [$least, $group, 0];
        }
    }
    my ($last) = grep { defined $items[$_][0] } reverse 0 .. $#items;
    my $err = $err_read ? fileno $err_read : fileno $out_read;
    my $in_line = 0; # a part of a line of standard error is out, its end is not
    my $say = sub {
        my ($before) = @_;
        while (@$said && !$in_line && (!defined $before || $said->[0][0] < $before)) {
            my $text = (shift @$said)->[1];
            event($kind{$err}, $text, $text);
            print $log_fh "$text\n" if $log_fh;
        }
    };
    $say->() unless defined $last;
    for my $i (0 .. $#items) {
        my ($at, $pieces, $ordered) = @{ $items[$i] };
        $say->($at) if defined $at;
        if ($ordered) { piece_event($_) for @$pieces }
        elsif (grep { !defined $key->{"$_->{fd} $_->{at}"} } @$pieces) {
            # Lines of a process the trace does not follow (a child that outlives the program,
            # a command after it): what strace would have said up to the next ordered item has
            # no known place among them either, and is one of the group.
            my ($next) = grep { defined } map { $items[$_][0] } $i + 1 .. $#items;
            my @own;
            push @own, (shift @$said)->[1] while @$said && (!defined $next || $said->[0][0] < $next);
            show_group(@$pieces, map { { fd => $err, kind => 'line', text => $_, line => $_ } } @own);
        }
        else { show_group(@$pieces) }
        for my $p (@$pieces) { $in_line = $p->{kind} eq 'part' if $p->{fd} == $err }
        $say->() if defined $last && $i >= $last;
    }
    $in_line = 0;
    $say->();
}

# The group's pieces in the order of their writes, each stream's own order kept; nothing when
# a piece of it has no write in the trace (another program's, say) to be ordered by.
sub in_write_order {
    my ($key, @pieces) = @_;
    my %fds = map { $_->{fd} => 1 } @pieces;
    return @pieces if keys %fds < 2;
    my %queue;
    push @{ $queue{ $_->{fd} } }, $_ for @pieces;
    my @sorted;
    while (1) {
        my @heads = grep { @{ $queue{$_} } } keys %queue;
        last unless @heads;
        if (@heads == 1) { push @sorted, @{ $queue{ $heads[0] } }; last }
        my @keys = map { $key->{"$_ $queue{$_}[0]{at}"} } @heads;
        return () if grep { !defined } @keys;
        my $first = $keys[0] < $keys[1] ? $heads[0] : $heads[1];
        push @sorted, shift @{ $queue{$first} };
    }
    return @sorted;
}

#!/usr/bin/perl
# For ./tour: runs one shown command line with bash and turns what it prints into the tour's
# events, in the order they arrive: "out LINE" and "err LINE" (or "KIND LINE" for both with
# --merge KIND), "out-part TEXT" for the start of a line that has not ended yet (or of a long
# one), then "out-end TEXT"; a backslash or tab in a line is written \\ or \t, as ./tour says.
# One process reads both streams, so lines that reach it at different moments keep their order;
# lines waiting on both at once are shown standard error first, a guess (see the loop) that can
# put a line flushed to standard output just before one to standard error after it. Options:
#   --pty          standard output (and with --merge, standard error) is a pseudo-terminal:
#                  the command's stdio then writes each line as it ends, as on a terminal
#   --merge KIND   standard output and standard error as one stream, each line "KIND LINE"
#   --log FILE     each line also appended to FILE, after its event is out
#   --status       a "status N" event when the command ends with N other than 0
#   --show-if RE   events only when the first line matches Perl regular expression RE (a
#                  server that got its address); the log has every line all the same
# The exit status is the command's (128 + N when signal N ended it).
use strict;
use warnings;
use POSIX qw(:sys_wait_h :termios_h :fcntl_h);

my ($pty, $merge, $log, $status_event, $show_if) = (0, undef, undef, 0, undef);
while (@ARGV && $ARGV[0] =~ /^--/) {
    my $option = shift @ARGV;
    last if $option eq '--';
    if ($option eq '--pty') { $pty = 1 }
    elsif ($option eq '--merge') { $merge = shift @ARGV }
    elsif ($option eq '--log') { $log = shift @ARGV }
    elsif ($option eq '--status') { $status_event = 1 }
    elsif ($option eq '--show-if') { $show_if = shift @ARGV }
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
    sysopen(my $slave, '/dev/pts/' . unpack('I', $number), O_RDWR | O_NOCTTY) or return;
    my $mode = POSIX::Termios->new;
    if ($mode->getattr(fileno $slave)) { # lines end in \n, not \r\n; nothing echoed
        $mode->setoflag($mode->getoflag & ~OPOST);
        $mode->setlflag($mode->getlflag & ~(ECHO | ICANON));
        $mode->setattr(fileno $slave, TCSANOW);
    }
    return ($master, $slave);
}

my ($out_read, $out_write, $err_read, $err_write);
($out_read, $out_write) = open_pty() if $pty;
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
my %pending = map { $_ => '' } keys %handle; # the start of a line, already shown as out-part

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

sub emit_line {
    my ($fd, $line) = @_;
    event($kind{$fd}, $line, $line);
    print $log_fh "$line\n" if $log_fh;
}

# The rest of a line whose start went out as out-part.
sub end_line {
    my ($fd, $rest) = @_;
    event("$kind{$fd}-end", $rest, "$pending{$fd}$rest");
    print $log_fh "$pending{$fd}$rest\n" if $log_fh;
    $pending{$fd} = '';
}

while (%handle) {
    my $ready = '';
    vec($ready, $_, 1) = 1 for keys %handle;
    my $n = select($ready, undef, undef, undef);
    next if $n < 0 && $!{EINTR};
    die "tour-run: select: $!\n" if $n < 0;
    # Standard error first when both have something: its lines are written at once, while
    # standard output into a pipe usually waits in stdio's buffer, so they are usually the older
    # ones. Not always: standard output on a pseudo-terminal, or flushed by the program, may
    # have been written first, and nothing here can tell (the client's order rests on this).
    for my $fd (sort { ($kind{$b} eq 'err') <=> ($kind{$a} eq 'err') } keys %handle) {
        next unless vec($ready, $fd, 1);
        my $got = sysread($handle{$fd}, my $data, 65536);
        next if !defined $got && $!{EINTR};
        if (!$got) { # the end (EIO: a pseudo-terminal that nobody holds any more)
            end_line($fd, '') if length $pending{$fd};
            delete $handle{$fd};
            next;
        }
        my @lines = split /\n/, $data, -1;
        my $rest = pop @lines;
        if (@lines) {
            my $first = shift @lines;
            length $pending{$fd} ? end_line($fd, $first) : emit_line($fd, $first);
            emit_line($fd, $_) for @lines;
        }
        if (length $rest) {
            event("$kind{$fd}-part", $rest);
            $pending{$fd} .= $rest;
        }
    }
}
waitpid($child, 0);
my $status = WIFSIGNALED($?) ? 128 + WTERMSIG($?) : WEXITSTATUS($?);
put("status\t$status\n") if $status_event && $status != 0;
exit $status;

#!/usr/bin/perl
# For the test of the tour's commands as a reader pastes them: reads a page the tour wrote
# (--html), and pastes each stop's commands, in order, into one interactive bash on a
# pseudo-terminal of its own, in the current folder, as a person would after the tour; then
# compares what each stop's commands printed, and each command's status, with what the page
# shows. A PID the page shows in "kill [-SIG] PID" is the one of the job started last, $!, here;
# a line that starts a job in the background is given a second to start before the next, and
# each line the moment its lines on the page take to come (10 seconds at most).
#   paste_on_pty.pl PAGE
# Lines are compared as a set per stop (the order of a command's two streams, and of a server's
# lines among the commands', is the kernel's choice), with numbers, addresses, mktemp's names and
# strace's "[pid N]" in front masked; where they differ, the stop's characters are compared, in
# any order (a race that the scheduler decides: interleave's). Each mismatch is printed; the exit
# status is 1 when there was one. A command still running after 120 seconds ends it all with
# status 2.
use strict;
use warnings;
use POSIX qw(:sys_wait_h);
require((__FILE__ =~ m{^/} ? '' : './') . (__FILE__ =~ s{[^/]*\z}{}r) . 'on_pty.pl'); # beside this file

my ($page) = @ARGV or die "usage: paste_on_pty.pl PAGE\n";
open my $fh, '<', $page or die "$page: $!\n";
my $html = do { local $/; <$fh> };
$html =~ s{<details class="(?:kernel|answer|source)">.*?</details>}{}gs;

my %entity = (amp => '&', lt => '<', gt => '>', quot => '"', '#39' => "'", nbsp => ' ');
sub text {
    my ($s) = @_;
    $s =~ s{<span class="x"[^>]*>[^<]*</span>}{?}g;    # a control character, shown as its symbol
    $s =~ s{<span class="aside">.*?</span>}{}g;
    $s =~ s{<span class="m">.*?</span>}{}g;
    $s =~ s{<br>}{}g;
    $s =~ s{<[^>]+>}{}g;
    $s =~ s{&(amp|lt|gt|quot|#39|nbsp);}{$entity{$1}}g;
    $s =~ s{&#x([0-9A-Fa-f]+);}{?}g;
    return $s;
}

# The stops: name, then commands, each with its lines and its status.
my @stops;
for my $chunk (split /(?=<section class="stop" id="stop-)/, $html) {
    next unless $chunk =~ /^<section class="stop" id="stop-([a-z0-9]+)">/;
    my $stop = { name => $1, commands => [] };
    for my $line (split /\n/, $chunk) {
        next unless $line =~ m{^<div class="(c|o|e|s|st)">(.*)</div>$};
        my ($class, $body) = ($1, $2);
        if ($class eq 'c') {
            push @{ $stop->{commands} }, { line => text($body) =~ s/^\$ //r, lines => [], status => 0 };
        } elsif (@{ $stop->{commands} }) {
            my $command = $stop->{commands}[-1];
            if ($class eq 'st') { $command->{status} = $1 if $body =~ /^\(exit status (\d+)\)$/ } # not a note on order
            else { push @{ $command->{lines} }, text($body) }
        }
    }
    push @stops, $stop if @{ $stop->{commands} };
}
die "paste_on_pty: no commands in $page\n" unless @stops;

# The interactive shell, on a terminal of its own; what is pasted is not shown again.
my ($master, $child) = on_pty(command => [qw(bash --norc --noprofile --noediting -i)], echo => 0,
    env => { TERM => 'dumb', PS1 => '', PS2 => '' });
$SIG{ALRM} = sub { kill 'KILL', $child; print "paste_on_pty: a command still ran after 120 seconds\n"; exit 2 };

my $pending = '';
sub type { my ($s) = @_; syswrite $master, $s }

# The terminal's output, read until regular expression $until matches it: what came before, and
# $until's first group; without $until, until $quiet seconds pass with nothing new (at most
# $limit seconds in all).
sub read_until {
    my ($until, $quiet, $limit) = @_;
    my $start = time;
    while (1) {
        if (defined $until && $pending =~ s/^(.*?)$until//s) { return ($1, $2) }
        my $ready = '';
        vec($ready, fileno $master, 1) = 1;
        if (select($ready, undef, undef, $quiet) > 0) {
            sysread($master, my $data, 65536) or last;
            $pending .= $data;
        } elsif (!defined $until) {
            last;
        }
        last if time - $start > $limit;
    }
    my $all = $pending;
    $pending = '';
    return ($all, undef);
}

# Line $1 typed, as pasted, and a marker after it: what it printed, and its status.
my $marker = 0;
sub run_line {
    my ($line) = @_;
    $marker++;
    type("$line\nprintf '\\n\@\@%s:%s\@\@\\n' $marker \"\$?\"\n");
    alarm 120;
    my ($shown, $status) = read_until(qr/\r?\n\@\@$marker:(\d+)\@\@\r?\n/, 1, 120);
    alarm 0;
    return ($shown, $status);
}

sub masked {
    my ($line) = @_;
    $line =~ s/\e\[[0-9;?]*[A-Za-z]//g;
    $line =~ s/\r//g;
    # strace -f names the process in front of a line while it traces more than one: whether it
    # has seen a thread just made, when the next line comes, is the scheduler's choice
    $line =~ s/^\[pid +\d+\] //;
    # and whether a thread is in a call when its process ends, which strace then shows unfinished,
    # or a child ends before its parent, which strace then shows getting SIGCHLD
    return undef if $line =~ /<unfinished \.\.\.>$/ || $line =~ /^--- SIGCHLD /;
    $line =~ s/0x[0-9a-fA-F]+/0xH/g;
    $line =~ s/\b(tmp|marked)\.[A-Za-z0-9]{6,}/$1.T/g;
    $line =~ s/\d+/N/g;
    $line =~ s/[ \t]+/ /g;
    $line =~ s/ $//;
    return $line;
}

# The shell's own notices of its jobs ("[1] 4242", "[1]+  Done ...") are not the commands' lines.
sub command_lines {
    my ($text) = @_;
    $text =~ s/\r//g;
    return grep { !/^\[\d+\][+-]? +(\d+$|Done|Terminated|Exit|Killed|Running|Stopped)/ } split /\n/, $text;
}

run_line('true'); # the shell is ready
my $failed = 0;
for my $stop (@stops) {
    my (@want, @got, @statuses);
    # Whether task1 counts once before it is cancelled (pairhalt), or before the process ends as
    # task2 cannot be made (both breaks), is the scheduler's choice.
    my $chosen = sub { $stop->{name} =~ /^pair(?:halt|join)$/ && $_[0] =~ /^(?:\[pid +\d+\] )?task1 count: \d+\s*$/ };
    for my $command (@{ $stop->{commands} }) {
        (my $line = $command->{line}) =~ s/^kill((?: -[A-Z0-9]+)?) \d+$/kill$1 \$!/;
        my ($shown, $status) = run_line($line);
        # A job started in the background gets the moment a person gives it to start (a server
        # to bind) before the next line.
        $shown .= (read_until(undef, 1, 5))[0] if $line =~ /&$/;
        # A command's lines are awaited as a person sees them before typing on: those the page
        # shows under it, for at most 10 seconds. A background server the scheduler has not run
        # yet would otherwise still hold the connection when the next line kills it; a catcher,
        # merge two pending signals into one, or die of the next kill's SIGTERM before it
        # handles them.
        my $deadline = time + 10;
        while (time < $deadline) {
            my %seen = map { (masked($_) // '') => 1 } command_lines($shown);
            last unless grep { defined && !$seen{$_} } map { masked($_) } grep { !$chosen->(s/\r//gr) } @{ $command->{lines} };
            $shown .= (read_until(undef, 0.2, 1))[0];
        }
        push @got, command_lines($shown);
        push @want, @{ $command->{lines} };
        push @statuses, "\$ $command->{line}: status " . ($status // 'none') . ", shown $command->{status}"
            if !defined $status || $status != $command->{status};
    }
    push @got, command_lines((read_until(undef, 3, 40))[0]); # what comes after (a child that goes on)
    my @w = sort grep { defined } map { masked($_) } grep { !$chosen->(s/\r//gr) } @want;
    my @g = sort grep { defined } map { masked($_) } grep { !$chosen->(s/\r//gr) } @got;
    my $same = "@w" eq "@g";
    if (!$same) { # the same characters, in another order?
        my $chars = sub { join '', sort split //, join '', map { s/\s//gr } @_ };
        $same = $chars->(@w) eq $chars->(@g);
    }
    if (!$same || @statuses) {
        $failed = 1;
        print "stop $stop->{name}:\n";
        print "  $_\n" for @statuses;
        unless ($same) {
            print "  shown:\n", map({ "    $_\n" } @w), "  pasted:\n", map({ "    $_\n" } @g);
        }
    } else {
        print "stop $stop->{name}: as shown\n";
    }
}
type("exit\n");
kill 'HUP', $child;
waitpid $child, 0;
exit $failed;

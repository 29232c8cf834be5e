#!/usr/bin/perl
# For the tests of the tour's order of lines: runs tools/tour-run.pl on one command line up to
# RUNS times, each under strace -f (every process of the line, whole strings, each descriptor
# named), and compares the lines it shows with the order in which the line's processes wrote
# them there: outside a group marked "unordered N", the same lines in the same order; inside
# one, each stream's own lines in their order. Stops after the first run when only one stream
# had lines (nothing to order between two). Prints one line, "ok RUNS COMMAND" or "wrong ...".
#   order_check.pl RUNS [--pty] -- COMMAND
use strict;
use warnings;
use File::Temp qw(tempdir);

my $runs = shift @ARGV;
my @options;
push @options, shift @ARGV while @ARGV && $ARGV[0] ne '--';
shift @ARGV;
my $command = shift @ARGV;
my $root = $ENV{SYSZOO_ROOT} // die "order_check: SYSZOO_ROOT names the checkout\n";
my $dir = tempdir(CLEANUP => 1);

sub unescape {
    my ($s) = @_;
    my %c = (n => "\n", t => "\t", r => "\r", v => "\x0b", f => "\f", a => "\a", b => "\b");
    $s =~ s{\\(?:([0-7]{1,3})|x([0-9a-fA-F]{2})|(.))}{defined $1 ? chr(oct $1) : defined $2 ? chr(hex $2) : $c{$3} // $3}gse;
    return $s;
}

# The lines as written: [stream, text] in the order of the writes that began them.
sub written {
    my ($file) = @_;
    open my $in, '<', $file or die "order_check: $file: $!\n";
    my (%open, %name, @writes);
    while (my $line = <$in>) {
        chomp $line;
        my ($pid, $rest) = $line =~ /^(\d+) +(.*)$/ or next;
        if ($rest =~ /^(.*) <unfinished \.\.\.>$/) { $open{$pid} = $1; next }
        if ($rest =~ /^<\.\.\. [a-z0-9_]+ resumed>(.*)$/) { $rest = ($open{$pid} // '') . $1; delete $open{$pid} }
        # the runner's child makes its pipes (or terminal) the command's descriptors 1 and 2
        if (keys %name < 2) {
            $name{$1} //= $2 == 1 ? 'out' : 'err' if $rest =~ /^dup[23]\(\d+<([^>]*)>, ([12])\b/;
            next;
        }
        next unless $rest =~ /^write\(\d+<([^>]*)>, "(.*)", \d+\) += (\d+)$/;
        next unless $name{$1} && $3 > 0;
        push @writes, [$name{$1}, substr(unescape($2), 0, $3)];
    }
    my (%text, %owner, @lines);
    for my $i (0 .. $#writes) {
        my ($stream, $data) = @{ $writes[$i] };
        $owner{$stream}[length($text{$stream} // '') + $_] = $i for 0 .. length($data) - 1;
        $text{$stream} .= $data;
    }
    for my $stream (keys %text) {
        my $at = 0;
        my @split = split /\n/, $text{$stream}, -1;
        pop @split if @split && $split[-1] eq '';
        for my $l (@split) {
            push @lines, [$owner{$stream}[$at], $stream, $l];
            $at += length($l) + 1;
        }
    }
    return map { [$_->[1], $_->[2]] } sort { $a->[0] <=> $b->[0] } @lines;
}

# The lines as shown: [stream, text, group] (group: the number of the "unordered" mark before them).
sub shown {
    my ($file) = @_;
    open my $in, '<', $file or die "order_check: $file: $!\n";
    my (@lines, %part, $group, $left);
    my $mark = 0;
    while (my $event = <$in>) {
        chomp $event;
        my ($kind, $text) = split /\t/, $event, 2;
        $text = ($text // '') =~ s/\\(.)/$1 eq 't' ? "\t" : $1/ger;
        if ($kind eq 'unordered') { $mark++; $left = $text; next }
        my ($stream, $piece) = $kind =~ /^(out|err)(-part|-end)?$/ or next;
        if (($piece // '') eq '-part') {
            if (!defined $part{$stream}) { push @lines, [$stream, '', $left ? $mark : 0]; $part{$stream} = $#lines; $left-- if $left }
            $lines[ $part{$stream} ][1] .= $text;
            next;
        }
        if (($piece // '') eq '-end' && defined $part{$stream}) {
            $lines[ delete $part{$stream} ][1] .= $text;
            next;
        }
        push @lines, [$stream, $text, $left ? $mark : 0];
        $left-- if $left;
    }
    return @lines;
}

my $streams = 0;
for my $run (1 .. $runs) {
    my $pid = fork // die "order_check: fork: $!\n";
    if ($pid == 0) {
        open STDOUT, '>', "$dir/events" or die "order_check: $!\n";
        open STDIN, '<', '/dev/null';
        exec 'strace', '-f', '-qq', '-y', '-s', '65536', '-e', 'trace=write,dup2,dup3', '-o', "$dir/trace",
            '--', $^X, "$root/tools/tour-run.pl", @options, '--', $command;
        die "order_check: strace: $!\n";
    }
    waitpid $pid, 0;
    my @truth = written("$dir/trace");
    my @seen = shown("$dir/events");
    # One stream alone is shown in the order it was read, which is the order it was written
    # (two processes' writes to it end in the trace in an order of their own).
    my %kinds = map { $_->[0] => 1 } @truth;
    if (keys %kinds < 2) { print "ok 1 (one stream): $command\n"; exit 0 }
    my $say = sub { join ' | ', map { ($_->[0] eq 'err' ? '! ' : '') . $_->[1] } @_ };
    my $wrong = @truth != @seen;
    my $i = 0;
    while (!$wrong && $i < @seen) {
        my $group = $seen[$i][2];
        my $n = 1;
        $n++ while $group && $i + $n < @seen && $seen[ $i + $n ][2] == $group;
        for my $stream (qw(out err)) { # each stream's lines, in their order, at these places
            my $a = $say->(grep { $_->[0] eq $stream } @seen[ $i .. $i + $n - 1 ]);
            my $b = $say->(grep { $_->[0] eq $stream } @truth[ $i .. $i + $n - 1 ]);
            $wrong ||= $a ne $b;
        }
        $i += $n;
    }
    if ($wrong) {
        print "wrong in run $run: $command\n  written: ", $say->(@truth), "\n  shown:   ",
            join(' | ', map { ($_->[2] ? "~$_->[2] " : '') . ($_->[0] eq 'err' ? '! ' : '') . $_->[1] } @seen), "\n";
        exit 1;
    }
}
print "ok $runs: $command\n";

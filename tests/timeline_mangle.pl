#!/usr/bin/perl
# For tests/tour_timeline.bats: a trace changed at a random point, as strace writes it when the
# moment is unlucky. timeline_mangle.pl cut SEED FILE: the trace ends at a random byte.
# timeline_mangle.pl split SEED FILE: a random call of one process is split in two at a random
# point of its arguments ("<unfinished ...>", then "<... NAME resumed>"), and the next line, of
# another process, comes between the halves. Nothing to split: the trace unchanged, status 3.
use strict;
use warnings;

my ($how, $seed, $file) = @ARGV;
srand $seed;
open my $in, '<', $file or die "$file: $!\n";
binmode $in;
my @lines = <$in>;
close $in;
binmode STDOUT;
if ($how eq 'cut') {
    my $all = join '', @lines;
    print substr($all, 0, int rand length $all);
    exit 0;
}
my @can;
for my $i (0 .. $#lines - 1) {
    my ($pid) = $lines[$i] =~ /^(\d+) / or next;
    my ($next) = $lines[$i + 1] =~ /^(\d+) / or next;
    push @can, $i if $next ne $pid && $lines[$i] =~ /^\d+ +\S+ \w+\(.*\) += /;
}
unless (@can) { print @lines; exit 3 }
my $i = $can[int rand @can];
my ($head, $name, $args, $tail) = $lines[$i] =~ /^(\d+ +\S+ )(\w+)\((.*)(\) += .*\n)$/s;
my $at = int rand(length($args) + 1);
my ($pid) = $head =~ /^(\d+)/;
my ($time) = $lines[$i + 1] =~ /^\d+ +(\S+)/;
print @lines[0 .. $i - 1], "$head$name(" . substr($args, 0, $at) . " <unfinished ...>\n", $lines[$i + 1],
    "$pid $time <... $name resumed>" . substr($args, $at) . $tail, @lines[$i + 2 .. $#lines];

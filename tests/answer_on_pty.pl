#!/usr/bin/perl
# For the tests of the tour's questions: runs a command on a pseudo-terminal of its own, as a
# person at a terminal would, copies what it prints to standard output, and answers each prompt:
#   answer_on_pty.pl [--columns N] [--limit SECONDS] PROMPT ANSWER... -- COMMAND ARG...
# PROMPT is a Perl regular expression; each time the output shows it once more, the next ANSWER
# is typed, with Enter (Ctrl-C, \x03, without; "(nothing)" types nothing, and the command goes
# on waiting); when the answers run out, the end of input (Ctrl-D). The command is killed after
# 120 seconds, or the limit given. The exit status is the command's; carriage returns are left
# out. With --columns, the terminal is N columns wide (else it has no size).
use strict;
use warnings;
use POSIX qw(:sys_wait_h);
require((__FILE__ =~ m{^/} ? '' : './') . (__FILE__ =~ s{[^/]*\z}{}r) . 'on_pty.pl'); # beside this file

my ($columns, $limit) = (0, 120);
(undef, $columns) = splice @ARGV, 0, 2 if @ARGV && $ARGV[0] eq '--columns';
(undef, $limit) = splice @ARGV, 0, 2 if @ARGV && $ARGV[0] eq '--limit';
my $prompt = shift @ARGV;
my @answers;
push @answers, shift @ARGV while @ARGV && $ARGV[0] ne '--';
shift @ARGV;
die "usage: answer_on_pty.pl PROMPT ANSWER... -- COMMAND ARG...\n" unless @ARGV;

my ($master, $child) = on_pty(command => [@ARGV], columns => $columns);
binmode STDOUT;
$| = 1;
local $SIG{ALRM} = sub { kill 'KILL', $child; die "answer_on_pty: the command still ran after $limit seconds\n" };
alarm $limit;
my ($seen, $shown) = (0, '');
while (1) {
    my $got = sysread($master, my $data, 4096);
    last unless $got; # EIO: the command and everything it started have let go of the terminal
    $data =~ tr/\r//d; # the terminal's line ends, as a file has them
    print $data;
    $shown .= $data;
    my $count = () = $shown =~ /$prompt/g;
    while ($seen < $count) {
        $seen++;
        # Ctrl-C is a key of its own, never followed by Enter
        my $keys = !@answers ? "\x04" : $answers[0] eq "\x03" ? shift @answers : shift(@answers) . "\n";
        syswrite $master, $keys unless $keys eq "(nothing)\n";
    }
}
waitpid($child, 0);
exit(WIFSIGNALED($?) ? 128 + WTERMSIG($?) : WEXITSTATUS($?));

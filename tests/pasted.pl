#!/usr/bin/perl
# Runs one command line as a learner who pastes it into a shell: an interactive bash on a
# pseudo-terminal of its own (its controlling terminal, standard input, output and error), the
# line typed at its prompt, then exit once the prompt is back. What the terminal shows is copied
# to standard output, prompts left out, carriage returns too (the terminal's line ends, as a
# file has them); what a process started by the line writes after the prompt is back (a child
# that outlives its parent) is copied until nothing holds the terminal any more. The exit status
# is the line's, as the shell's $? had it. For the tour's proof of its answers
# (SYSZOO_TOUR_SHELL, see tests/prove-answers):
#   pasted.pl LINE
# The shell reads no start-up file and edits no line, so that the prompt is known and nothing is
# echoed: neither changes how it runs a line. At most 300 seconds.
use strict;
use warnings;
use POSIX qw(:sys_wait_h);
require((__FILE__ =~ m{^/} ? '' : './') . (__FILE__ =~ s{[^/]*\z}{}r) . 'on_pty.pl'); # beside this file

my $line = shift @ARGV // die "usage: pasted.pl LINE\n";
my $prompt = "\x{1}pasted-prompt\x{1}";

# Typed lines are not shown again.
my ($master, $shell) = on_pty(command => [qw(bash --norc --noprofile --noediting -i)], echo => 0,
    env => { PS1 => $prompt, PS2 => '' });
binmode STDOUT;
$| = 1;
local $SIG{ALRM} = sub { kill 'KILL', $shell; die "pasted: still running after 300 seconds: $line\n" };
alarm 300;

# Prompts seen: the first asks for the line, the second says it has run.
my ($seen, $pending) = (0, '');
while (1) {
    my $got = sysread($master, my $data, 4096);
    last unless $got; # EIO: nothing holds the terminal any more
    $data =~ tr/\r//d;
    $pending .= $data;
    while ($seen < 2 && (my $at = index($pending, $prompt)) >= 0) {
        print substr($pending, 0, $at) if $seen == 1;
        substr($pending, 0, $at + length $prompt) = '';
        $seen++;
        # The exit builtin's word "exit" on standard error is the shell's, not the line's.
        syswrite $master, $seen == 1 ? "$line\n" : "exit 2> /dev/null\n";
    }
    if ($seen >= 1) { # keep what may be the start of a prompt
        my $keep = 0;
        for my $n (1 .. length($prompt) - 1) {
            $keep = $n if $n <= length $pending && substr($pending, -$n) eq substr($prompt, 0, $n);
        }
        print substr($pending, 0, length($pending) - $keep);
        substr($pending, 0, length($pending) - $keep) = '';
    }
}
print $pending if $seen >= 1;
waitpid($shell, 0);
exit(WIFSIGNALED($?) ? 128 + WTERMSIG($?) : WEXITSTATUS($?));

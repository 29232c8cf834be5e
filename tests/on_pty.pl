# For the tests' programs that act as a person at a terminal (answer_on_pty.pl, paste_on_pty.pl,
# pasted.pl): a pseudo-terminal, without IO::Pty, and a command on it.
#   my ($master, $pid) = on_pty(command => [PROGRAM, ARG...], echo => 0, columns => N,
#                               env => {NAME => VALUE...});
# The command runs in a session of its own with the terminal as its controlling terminal and its
# standard input, output and error. Without echo what is typed is not shown again; columns sets
# the terminal's width (else it has no size).
use strict;
use warnings;
use POSIX qw(:termios_h :fcntl_h setsid);

sub on_pty {
    my (%o) = @_;
    sysopen(my $master, '/dev/ptmx', O_RDWR | O_NOCTTY) or die "ptmx: $!\n";
    my $unlock = pack 'i', 0;
    ioctl($master, 0x40045431, $unlock) or die "unlock: $!\n"; # TIOCSPTLCK
    my $number = pack 'I', 0;
    ioctl($master, 0x80045430, $number) or die "ptn: $!\n"; # TIOCGPTN
    my $slave_name = '/dev/pts/' . unpack('I', $number);
    my $size = pack 'S4', 24, $o{columns} // 0, 0, 0;
    ioctl($master, 0x5414, $size) or die "winsize: $!\n" if $o{columns}; # TIOCSWINSZ
    my $child = fork // die "fork: $!\n";
    return ($master, $child) if $child;
    setsid();
    sysopen(my $slave, $slave_name, O_RDWR) or die "$slave_name: $!\n";
    my $mode = POSIX::Termios->new;
    if (defined $o{echo} && !$o{echo} && $mode->getattr(fileno $slave)) {
        $mode->setlflag($mode->getlflag & ~ECHO);
        $mode->setattr(fileno $slave, TCSANOW);
    }
    open STDIN, '<&', $slave or die;
    open STDOUT, '>&', $slave or die;
    open STDERR, '>&', $slave or die;
    close $slave;
    close $master;
    @ENV{ keys %{ $o{env} // {} } } = values %{ $o{env} // {} };
    exec @{ $o{command} } or die "$o{command}[0]: $!\n";
}

1;

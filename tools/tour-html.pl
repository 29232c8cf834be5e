#!/usr/bin/perl
# For ./tour --html: turns bytes that programs or strace printed into HTML text. Markup
# characters become entities, control characters their visible symbols, bytes that are not
# UTF-8 a marked \xHH. Modes: "lines CLASS MARK", "trace" and "source" (see html_writer in the
# tour).
use strict;
use warnings;
$| = 1;
binmode STDIN;
binmode STDOUT;

my $utf8 = qr/[\xC2-\xDF][\x80-\xBF] | \xE0[\xA0-\xBF][\x80-\xBF] | [\xE1-\xEC\xEE\xEF][\x80-\xBF]{2}
            | \xED[\x80-\x9F][\x80-\xBF] | \xF0[\x90-\xBF][\x80-\xBF]{2} | [\xF1-\xF3][\x80-\xBF]{3}
            | \xF4[\x80-\x8F][\x80-\xBF]{2}/x;
my %entity = ('&' => '&amp;', '<' => '&lt;', '>' => '&gt;', '"' => '&quot;', "'" => '&#39;');

sub text {
    my ($s) = @_;
    my $out = '';
    pos($s) = 0;
    while (pos($s) < length $s) {
        if ($s =~ /\G([\x20-\x7E\t]+)/gc) {
            (my $t = $1) =~ s/([&<>"'])/$entity{$1}/g;
            $out .= $t;
        } elsif ($s =~ /\G([\x00-\x1F\x7F])/gc) {
            my $c = ord $1;
            $out .= sprintf '<span class="x" title="control character 0x%02X">&#x%04X;</span>', $c,
                $c == 0x7F ? 0x2421 : 0x2400 + $c;
        } elsif ($s =~ /\G(\xC2[\x80-\x9F])/gc) {
            $out .= sprintf '<span class="x" title="control character">U+%04X</span>', ord substr($1, 1);
        } elsif ($s =~ /\G($utf8)/gc) {
            $out .= $1;
        } else {
            $s =~ /\G(.)/gcs;
            $out .= sprintf '<span class="x" title="not UTF-8">\\x%02X</span>', ord $1;
        }
    }
    return $out;
}

my $mode = shift @ARGV;
if ($mode eq 'lines') {
    my ($class, $mark) = @ARGV;
    $mark = $mark eq '' ? '' : '<span class="m">' . text($mark) . '</span>';
    while (my $line = <STDIN>) {
        chomp $line;
        print qq(<div class="$class">$mark), text($line), "</div>\n";
    }
} elsif ($mode eq 'trace') {
    while (my $line = <STDIN>) {
        chomp $line;
        my ($tag, $rest) = $line =~ /^(\S) ?(.*)$/s or next;
        if ($tag eq 'T') { print '<div class="kc">$ ', text($rest), "</div>\n" }
        elsif ($tag eq 'L') { print '<div class="k">', text($rest), "</div>\n" }
        elsif ($tag eq 'M') { print '<div class="km">&#x2026; ', text($rest), " more like this</div>\n" }
        elsif ($tag eq 'D') { print '<div class="km">(left out: ', text($rest), ")</div>\n" }
    }
} elsif ($mode eq 'source') {
    my $n = 0;
    while (my $line = <STDIN>) {
        chomp $line;
        printf qq(<span class="n">%4d</span>  %s\n), ++$n, text($line);
    }
}

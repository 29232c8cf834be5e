#!/usr/bin/perl
# For ./tour: shows its stream of events, one a line, "KIND<tab>FIELD<tab>...", a backslash,
# tab or newline in a field written \\, \t or \n (any other byte as it is: a program's line
# is raw bytes). Two renderers of the same stream:
#   terminal          the tour's standard output, coloured when it is a terminal (not with NO_COLOR)
#   html FILE         one self-contained web page, written to FILE at the end
# Events: intro, folder NAME TITLE, stop NAME SUMMARY, source FILE POINTER PATH, say TEXT,
# note TEXT, command TEXT [ASIDE], out/err/server LINE, out-part/out-end (and err-, server-)
# for a line that arrives in pieces, status N, kernel-begin, kcommand TEXT, kline LINE,
# unordered N (the next N lines' order between standard output and standard error is not
# known), kmore N, kleft TEXT, knote TEXT, kernel-end, kernel-absent TEXT, stop-end, ask PROMPT,
# meta LABEL VALUE (labels style and command are the page's own), code-words NAME... (the
# page's: names to set as code), end; for --predict: question
# TEXT CHOICE..., prompt TEXT, answer VERDICT RIGHT GUESS WHERE (VERDICT held, missed,
# unanswered, shown or undecided), score RIGHT ASKED; for --break: break-begin CALL ERRNO WHEN,
# break-result TEXT, break-absent TEXT, break-none TEXT, break-end. HTML escaping happens here,
# in html_text, and nowhere else.
use strict;
use warnings;
use POSIX ();
use Config ();
$| = 1;
binmode STDIN;
binmode STDOUT;

my $medium = shift @ARGV // 'terminal';
my %handler;

# --- terminal ----------------------------------------------------------------------------------
my ($bold, $dim, $red, $cyan, $plain) = ('') x 5;
($bold, $dim, $red, $cyan, $plain) = ("\e[1m", "\e[2m", "\e[31m", "\e[36m", "\e[0m")
    if $medium eq 'terminal' && -t STDOUT && !length($ENV{NO_COLOR} // '');

# The width sentences are wrapped to: a terminal's own, asked again for each sentence (the
# window may have been resized), up to 96 columns, which read best; 96 in a pipe or a file.
my $widest = 96;
sub text_width {
    local $!; # asking is no error: a failed write's reason, told at the end of the event, stays
    my $size = "\0" x 8;
    return $widest unless $medium eq 'terminal' && -t STDOUT && ioctl(STDOUT, 0x5413, $size); # TIOCGWINSZ
    my (undef, $columns) = unpack 'S S', $size;
    return $columns > 0 && $columns < $widest ? $columns : $widest;
}

# Sentence $1 wrapped after the last space that fits, never inside a word (a word longer than
# a line has a line of its own), trailing spaces dropped. $2 columns of the first line are taken
# already (by a heading such as "Predict: "); the lines after it start with $3 spaces.
sub wrapped {
    my ($text, $lead, $indent) = @_;
    ($lead, $indent) = ($lead // 0, $indent // 0);
    my $width = text_width();
    my $decoded = utf8::decode($text); # columns are characters; a line that is not UTF-8 counts bytes
    my ($out, $room) = ('', $width - $lead);
    if ($room < $width / 3) { # a heading too long for the rest of its line: the text starts below it
        ($out, $room) = ("\n" . ' ' x $indent, $width - $indent);
    }
    while (length $text > $room) {
        my $cut = rindex($text, ' ', $room);
        $cut = index($text, ' ', $room) if $cut <= 0;
        last if $cut < 0;
        $out .= substr($text, 0, $cut) =~ s/ +$//r . "\n" . ' ' x $indent;
        substr($text, 0, $cut + 1, '');
        $text =~ s/^ +//;
        $room = $width - $indent;
    }
    $text =~ s/ +$//;
    $out .= "$text\n";
    utf8::encode($out) if $decoded;
    return $out;
}

# A heading or a remark in parentheses (a note, a result): one line in a pipe or a file, as it always was,
# whatever its length; on a terminal, wrapped as a sentence is.
sub fitted {
    my ($text, @how) = @_;
    local $!; # as in text_width
    return -t STDOUT ? wrapped($text, @how) =~ s/\n$//r : $text;
}

# The verdict on a prediction, in words; RIGHT and GUESS are choices as "b) 3".
sub verdict_text {
    my ($verdict, $right, $guess, $where) = @_;
    my $why = length $where ? " ($where)" : '';
    return "The run did not decide it this time$why." if $verdict eq 'undecided';
    return "Prediction held: $right.$why" if $verdict eq 'held';
    return "Prediction missed: you said $guess; the run says $right.$why" if $verdict eq 'missed';
    return "No prediction; the run says $right.$why" if $verdict eq 'unanswered';
    return "Answer: $right.$why";
}

sub ordinal {
    my ($n) = @_;
    my $suffix = $n % 100 >= 11 && $n % 100 <= 13 ? 'th' : (qw(th st nd rd th th th th th th))[$n % 10];
    return "$n$suffix";
}

# Before N lines read from both streams at once: which was written first is not known.
sub unordered_text {
    "the next $_[0] lines came on standard output and standard error at once: their order between the two is not known";
}

sub break_heading { 'the ' . ($_[2] == 1 ? 'first' : ordinal($_[2])) . " call of $_[0] fails with $_[1]" }

my %mid_line; # stream kind => a part of a line is out, its end is not
my %line_mark = (out => '', err => '! ', server => '  [server] ');
sub terminal_line {
    my ($kind, $piece, $text) = @_;
    # Standard error's colour ends with each piece: another stream's line may come between two.
    my ($colour, $reset) = $kind eq 'err' ? ($red, $plain) : ('', '');
    print $colour, ($mid_line{$kind} ? '' : $line_mark{$kind}), $text, $reset;
    $mid_line{$kind} = $piece eq 'part';
    print "\n" unless $mid_line{$kind};
}

my %terminal = (
    intro => sub {
        print $bold, fitted('A tour of syszoo: each stop runs a program and says what to watch.'), "$plain\n";
        print $dim, fitted('Commands start with $; lines marked ! are standard error.'), "$plain\n";
    },
    folder => sub { print "\n$bold", fitted("== $_[1] ($_[0]/) =="), "$plain\n" },
    stop => sub { print "\n$bold", fitted("-- $_[0]: $_[1] --"), "$plain\n" },
    source => sub { print $dim, fitted("Source: $_[0]: $_[1]"), "$plain\n" },
    say => sub { print wrapped($_[0]) },
    note => sub { print $dim, fitted($_[0]), "$plain\n" },
    command => sub {
        print @_ > 1 ? "$cyan\$ $_[0]$plain   $dim$_[1]$plain\n" : "$cyan\$ $_[0]$plain\n";
    },
    status => sub { print "$dim(exit status $_[0])$plain\n" },
    unordered => sub { print $dim, fitted('(' . unordered_text($_[0]) . ')'), "$plain\n" },
    'kernel-begin' => sub {
        print "${bold}What the kernel saw$plain $dim",
            fitted('(the commands run once more, the program under strace; only the calls that carry the lesson)',
            length 'What the kernel saw '), "$plain\n";
    },
    kcommand => sub { print "  \$ $_[0]\n" },
    kline => sub { print "  $_[0]\n" },
    kmore => sub { print "  $dim\xE2\x80\xA6 $_[0] more like this$plain\n" },
    kleft => sub { print "  $dim", fitted("(left out: $_[0])", 2, 3), "$plain\n" },
    knote => sub { print "  $dim", fitted("($_[0])", 2, 3), "$plain\n" },
    'kernel-absent' => sub { print "${bold}What the kernel saw:$plain $dim", fitted($_[0], length 'What the kernel saw: '), "$plain\n" },
    ask => sub { print "\n$dim", fitted("($_[0])"), "$plain " },
    question => sub {
        my ($text, @choices) = @_;
        print "${bold}Predict:$plain ", wrapped($text, length 'Predict: ');
        printf "  %s) %s\n", chr(97 + $_), $choices[$_] for 0 .. $#choices;
    },
    prompt => sub { print $dim, fitted("($_[0])"), "$plain > " },
    answer => sub { print $bold, wrapped(verdict_text(@_)) =~ s/\n$//r, "$plain\n" },
    score => sub { print "\n${bold}Predictions: $_[0] of $_[1] predicted.$plain\n" },
    'break-begin' => sub { print "${bold}Broken on purpose:$plain ", wrapped(break_heading(@_) . ', under strace:', length 'Broken on purpose: ') },
    'break-result' => sub { print $dim, fitted("($_[0])"), "$plain\n" },
    'break-absent' => sub { print "${bold}Broken on purpose:$plain $dim$_[0]$plain\n" },
    'break-none' => sub { print "${bold}Broken on purpose:$plain ", wrapped("nothing: $_[0]", length 'Broken on purpose: ') },
    end => sub { print "\n${bold}End of the tour.$plain\n" },
);
for my $kind (qw(out err server)) {
    $terminal{$kind} = sub { terminal_line($kind, 'line', $_[0]) };
    $terminal{"$kind-part"} = sub { terminal_line($kind, 'part', $_[0]) };
    $terminal{"$kind-end"} = sub { terminal_line($kind, 'end', $_[0]) };
}

# --- html --------------------------------------------------------------------------------------
my $utf8 = qr/[\xC2-\xDF][\x80-\xBF] | \xE0[\xA0-\xBF][\x80-\xBF] | [\xE1-\xEC\xEE\xEF][\x80-\xBF]{2}
            | \xED[\x80-\x9F][\x80-\xBF] | \xF0[\x90-\xBF][\x80-\xBF]{2} | [\xF1-\xF3][\x80-\xBF]{3}
            | \xF4[\x80-\x8F][\x80-\xBF]{2}/x;
my %entity = ('&' => '&amp;', '<' => '&lt;', '>' => '&gt;', '"' => '&quot;', "'" => '&#39;');

# Any bytes as HTML text: markup characters as entities, control characters as their visible
# symbols, bytes that are not UTF-8 as a marked \xHH.
sub html_text {
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

# The words of code in the tour's sentences, set in the page's code font (in its sans-serif
# text "ls" would read as "Is"): a quoted phrase (a command or a line as a program prints it), a
# call as name() or name(ARGS), an identifier with an underscore or a digit (my_exit1, SO_ERROR, task2), a path,
# a hexadecimal number, an option, an errno or signal name, and the names of the programs (event
# code-words) and of the commands the tour runs.
my %code_word = map { $_ => 1 } keys %!, (map {"SIG$_"} split ' ', $Config::Config{sig_name}),
    qw(main ls kill grep sh bash strace gdb ipcrm ipcs);
my $code_re = qr{ (?<![\w'])'([^'\n]+)'(?!\w)
    | (?<![\w/.-]) ( \w+\([^()\n]*\) | [A-Za-z]\w*(?:_\w*|[a-z]\d)\w* | 0x[0-9A-Fa-f]+
        | /(?:[\w.*-]+(?:/[\w.*-]*)*)? | --?[A-Za-z][\w-]* | [A-Za-z]\w* ) (?![\w/-]) }x;
sub prose_html {
    my ($text) = @_;
    my ($out, $at) = ('', 0);
    while ($text =~ /$code_re/g) {
        my ($quoted, $word, $start) = ($1, $2, defined $1 ? $-[1] : $-[2]);
        # a plain word is code only when it is a name the tour knows
        next if defined $word && $word =~ /^[A-Za-z]+$/ && !$code_word{$word};
        my $code = $quoted // $word;
        $out .= html_text(substr $text, $at, $start - $at) . '<code>' . html_text($code) . '</code>';
        $at = $start + length $code;
    }
    return $out . html_text(substr $text, $at);
}

my ($body, @contents, @meta, $source_path, $source_name, $folder_open) = ('');
my %partial;
my $answer_slot = "\0answer\0"; # where a question's answer goes, once the run has decided it
my %line_class = (out => 'o', err => 'e', server => 's');
sub html_line {
    my ($kind, $text) = @_;
    my $mark = $kind eq 'out' ? '' : '<span class="m">' . html_text($line_mark{$kind} =~ s/^ +//r) . '</span>';
    $mark =~ s| </span>$|&nbsp;</span>| if $kind eq 'server'; # the mark stays with its line, however it wraps
    # An empty line keeps its height.
    my $shown = length $text ? html_text($text) : '<br>';
    $body .= qq(<div class="$line_class{$kind}">$mark$shown</div>\n);
}

sub end_stop_html {
    $body =~ s/\Q$answer_slot\E//g; # a question the stop could not answer
    if (defined $source_path && open my $fh, '<:raw', $source_path) {
        my @lines = <$fh>;
        $body .= sprintf qq(<details class="source"><summary>%s, %d lines</summary>\n<pre>),
            html_text($source_name), scalar @lines;
        my $n = 0;
        for my $line (@lines) {
            chomp $line;
            $body .= sprintf qq(<span class="n">%4d</span>  %s\n), ++$n, html_text($line);
        }
        $body .= "</pre></details>\n";
    }
    $body .= "</section>\n";
    undef $source_path;
}

my %html = (
    intro => sub { },
    folder => sub {
        $body .= "</section>\n" if $folder_open;
        $body .= sprintf qq(<section class="folder" id="folder-%s">\n<h2>%s <span class="dir">%s/</span></h2>\n),
            html_text($_[0]), html_text($_[1]), html_text($_[0]);
        $folder_open = 1;
        push @contents, [folder => @_];
    },
    stop => sub {
        $body .= sprintf qq(<section class="stop" id="stop-%s">\n<h3>%s: %s</h3>\n),
            html_text($_[0]), html_text($_[0]), html_text($_[1]);
        push @contents, [stop => @_];
    },
    'stop-end' => \&end_stop_html,
    source => sub {
        $body .= sprintf qq(<p class="src">Source: <code>%s</code>: %s</p>\n), html_text($_[0]), html_text($_[1]);
        ($source_name, $source_path) = ($_[0], $_[2]);
    },
    say => sub { $body .= '<p>' . prose_html($_[0]) . "</p>\n" },
    note => sub { $body .= '<p class="note">' . prose_html($_[0]) . "</p>\n" },
    command => sub {
        $body .= '<div class="c">$ ' . html_text($_[0]);
        $body .= '<span class="aside">   ' . html_text($_[1]) . '</span>' if @_ > 1;
        $body .= "</div>\n";
    },
    status => sub { $body .= '<div class="st">(exit status ' . html_text($_[0]) . ")</div>\n" },
    unordered => sub { $body .= '<div class="st">(' . html_text(unordered_text($_[0])) . ")</div>\n" },
    'kernel-begin' => sub {
        $body .= qq(<details class="kernel"><summary>What the kernel saw</summary>\n);
        $body .= qq(<div class="km">(the commands run once more, the program under strace)</div>\n);
    },
    kcommand => sub { $body .= '<div class="kc">$ ' . html_text($_[0]) . "</div>\n" },
    kline => sub { # the PID stays with the call it made, however the line wraps
        my ($pid, $call) = $_[0] =~ /^(\d+) +(.*)$/s ? ($1, $2) : ('', $_[0]);
        # strace's padding before the result lines up a terminal's columns; on a narrow page it
        # would push "= value" onto a line of its own; "=" stays with the value
        my $result = $call =~ s/ += ([^"]*)$//s ? ' =&nbsp;' . html_text($1) : '';
        $body .= '<div class="k">' . ($pid eq '' ? '' : "$pid&nbsp;") . html_text($call) . "$result</div>\n";
    },
    kmore => sub { $body .= '<div class="km">&#x2026; ' . html_text($_[0]) . " more like this</div>\n" },
    kleft => sub { $body .= '<div class="km">(left out: ' . html_text($_[0]) . ")</div>\n" },
    knote => sub { $body .= '<div class="km">(' . prose_html($_[0]) . ")</div>\n" },
    'kernel-end' => sub { $body .= "</details>\n" },
    'kernel-absent' => sub {
        $body .= '<p class="note"><strong>What the kernel saw:</strong> ' . prose_html($_[0]) . "</p>\n";
    },
    ask => sub { print STDERR "($_[0]) " },
    # The answer is folded away where the question is, closed: a reader predicts first.
    question => sub {
        my ($text, @choices) = @_;
        $body .= '<div class="predict"><p><strong>Predict:</strong> ' . prose_html($text) . qq(</p>\n<ol type="a">);
        $body .= '<li>' . prose_html($_) . '</li>' for @choices;
        $body .= "</ol>\n$answer_slot</div>\n";
    },
    answer => sub {
        my $shown = prose_html(verdict_text(@_));
        $body =~ s/\Q$answer_slot\E/<details class="answer"><summary>Answer<\/summary><p>$shown<\/p><\/details>/;
    },
    'break-begin' => sub {
        $body .= '<div class="break"><p><strong>Broken on purpose:</strong> '
            . html_text(break_heading(@_)) . ", under strace:</p>\n";
    },
    'break-result' => sub { $body .= '<p class="note">(' . prose_html($_[0]) . ")</p>\n" },
    'break-end' => sub { $body .= "</div>\n" },
    'break-absent' => sub {
        $body .= '<p class="note"><strong>Broken on purpose:</strong> ' . prose_html($_[0]) . "</p>\n";
    },
    'break-none' => sub {
        $body .= '<p class="note"><strong>Broken on purpose:</strong> nothing: ' . prose_html($_[0]) . "</p>\n";
    },
    meta => sub { push @meta, [@_] },
    'code-words' => sub { $code_word{$_} = 1 for @_ },
    end => sub { },
);
for my $kind (qw(out err server)) {
    $html{$kind} = sub { html_line($kind, $_[0]) };
    $html{"$kind-part"} = sub { $partial{$kind} .= $_[0] };
    $html{"$kind-end"} = sub { html_line($kind, ($partial{$kind} // '') . $_[0]); $partial{$kind} = '' };
}

sub write_page {
    my ($file) = @_;
    my %m = map { $_->[0] => $_->[1] } @meta;
    $body .= "</section>\n" if $folder_open;
    open my $page, '>:raw', $file or die "tour: $file: $!\n";
    my $css = '';
    if (open my $fh, '<:raw', $m{style} // '') { local $/; $css = <$fh> }
    print $page <<HEAD;
<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<meta name="color-scheme" content="light dark">
<meta name="generator" content="syszoo tour">
HEAD
    printf $page "<title>A tour of syszoo, recorded %s</title>\n", html_text($m{Recorded} // '');
    print $page "<style>\n$css\n</style>\n</head>\n<body>\n<header>\n<h1>A tour of syszoo</h1>\n";
    # The command that recorded it, its options included, as the meta "command" gives it.
    print $page '<p>A recording of one run of <code>', html_text($m{command} // './tour --html'), '</code>: every command was run for real, and what follows is what it printed, as it printed it, on the machine below. Commands start with $; lines marked ! are standard error, [server] marks the server&#39;s own terminal. Under each stop, &#8220;What the kernel saw&#8221; holds the system calls strace recorded when the stop&#39;s commands ran once more, traced, after the run shown, and the program&#39;s source follows.</p>', "\n";
    print $page qq(<dl class="meta">\n);
    for my $entry (grep { $_->[0] !~ /^(style|command)$/ } @meta) {
        printf $page "<dt>%s</dt><dd>%s</dd>\n", html_text($entry->[0]), html_text($entry->[1]);
    }
    print $page "</dl>\n<nav>\n<h2>Stops</h2>\n<ol>\n";
    my $in_folder = 0;
    for my $entry (@contents) {
        my ($what, $name, $text) = @$entry;
        if ($what eq 'folder') {
            print $page "</ol></li>\n" if $in_folder;
            printf $page qq(<li><a href="#folder-%s">%s</a><ol>\n), html_text($name), html_text($text);
            $in_folder = 1;
        } else {
            printf $page qq(<li><a href="#stop-%s">%s</a>: %s</li>\n), html_text($name), html_text($name), html_text($text);
        }
    }
    print $page "</ol></li>\n" if $in_folder;
    print $page "</ol>\n</nav>\n</header>\n<main>\n$body</main>\n<footer><p>End of the tour.</p></footer>\n</body>\n</html>\n";
    close $page or die "tour: $file: $!\n";
}

# --- the timeline: tools/tour-timeline.pl's events (timeline-begin TITLE, tline LINE,
# timeline-note TEXT, timeline-svg SVG, timeline-item TEXT, timeline-end; timeline-none WHY).
# The terminal shows the text drawing; the page the picture, made and escaped by that tool, and
# the same events as a list.
$terminal{'timeline-begin'} = sub { print "$bold$_[0]$plain\n" };
$terminal{tline} = sub { print "$_[0]\n" };
$terminal{'timeline-note'} = sub { print $dim, fitted($_[0]), "$plain\n" }; # wrapped as a note is
$terminal{'timeline-none'} = sub { print "${bold}Timeline:$plain $dim$_[0]$plain\n" };
my @timeline_items;
$html{'timeline-begin'} = sub { $body .= '<div class="tl"><p><strong>' . html_text($_[0]) . "</strong></p>\n"; @timeline_items = () };
$html{'timeline-svg'} = sub { $body .= qq(<div class="tl-picture">$_[0]</div>\n) };
$html{'timeline-note'} = sub { $body .= '<p class="note">' . html_text($_[0]) . "</p>\n" };
$html{'timeline-item'} = sub { push @timeline_items, $_[0] };
$html{'timeline-end'} = sub {
    $body .= qq(<details class="tl-list"><summary>The timeline as a list</summary><ol>\n)
        . join('', map { '<li>' . html_text($_) . "</li>\n" } @timeline_items) . "</ol></details></div>\n";
};
$html{'timeline-none'} = sub { $body .= '<p class="note"><strong>Timeline:</strong> ' . html_text($_[0]) . "</p>\n" };

%handler = $medium eq 'html' ? %html : %terminal;
my %unescape = ('\\' => '\\', t => "\t", n => "\n");
while (my $event = <STDIN>) {
    chomp $event;
    my ($kind, @fields) = split /\t/, $event, -1;
    my $routine = $handler{$kind} or next;
    s/\\([\\tn])/$unescape{$1}/g for @fields;
    $! = 0;
    $routine->(@fields);
    # Output that cannot be written (a full disk, a closed descriptor) ends the tour, told once.
    my $why = "$!";
    if ($medium eq 'terminal' && STDOUT->error) {
        print STDERR "tour: output error: $why\n";
        POSIX::_exit(1); # not perl's own exit, which would try the write again and say so
    }
}
write_page($ARGV[0]) if $medium eq 'html';

#!/usr/bin/env perl
# Where a foreign driver's markers fell in the EC command port's stream
# (tests/qemu/foreign-timer.sh).
#   marker-places.pl MARKER ZAR-SIM-TRACE SENT-66
# MARKER: two hex digits. ZAR-SIM-TRACE: zar-sim --trace of the same command
# ("out 66 01", "in 62 c2"). SENT-66: what the device at 0x66 received, one
# hex byte a line. Exits 0, with a summary, when the stream without markers
# is zar-sim's and every marker fell where nothing was open; otherwise 1,
# saying what is wrong.
use strict;
use warnings;

my ($marker, $trace, $sent) = @ARGV;

# From zar-sim's trace: the command port's writes, and for each count k of
# them whether some moment between write k and write k+1 has nothing open.
# Open: an SPI transaction, from FOLLOW_START (01) to FOLLOW_END (05); an EC
# command with data (0x92, 0xDC), from its command byte to the data read
# that answers it. In follow mode 02 and 03 take the next byte as theirs.
my (@expected, @allowed);
my ($follow, $argument, $spi, $command) = (0, 0, 0, 0);
$allowed[0] = 1;
open(my $t, '<', $trace) or die "$trace: $!";
while (<$t>) {
  my ($dir, $port, $value) = split;
  if ($dir eq 'out' && $port eq '66') {
    push @expected, $value;
    if ($argument) {
      $argument = 0;
    } elsif (!$follow) {
      $command = 1 if $value eq '92' || $value eq 'dc';
      $follow = 1 if $value eq 'dc';
    } elsif ($value eq '01') {
      $spi = 1;
    } elsif ($value eq '05') {
      $spi = 0;
    } elsif ($value eq '02' || $value eq '03') {
      $argument = 1;
    } elsif (($value eq 'fe' || $value eq 'fc') && !$spi) {
      $follow = 0;
    }
    $allowed[@expected] = !($spi || $command);
  } elsif ($dir eq 'in' && $port eq '62' && $command) {
    $command = 0;
    $allowed[@expected] = 1 unless $spi;
  }
}
close $t;
my $n = @expected;
if (grep { $_ eq $marker } @expected) {
  print "zar-sim writes $marker to 0x66 itself: pick another marker\n";
  exit 1;
}

# The device's stream: each marker's place, and the rest against zar-sim's.
my (@places, $k);
$k = 0;
open(my $s, '<', $sent) or die "$sent: $!";
while (my $byte = <$s>) {
  chomp $byte;
  if ($byte eq $marker) {
    push @places, $k;
    next;
  }
  if ($k >= $n || $byte ne $expected[$k]) {
    printf "port 0x66 without markers differs from zar-sim's at write %d: %s, zar-sim %s\n", $k + 1, $byte,
      $k < $n ? $expected[$k] : 'nothing';
    exit 1;
  }
  $k++;
}
close $s;
if ($k != $n) {
  print "port 0x66 without markers has $k bytes, zar-sim wrote $n\n";
  exit 1;
}

my @during = grep { $_ > 0 && $_ < $n } @places;
my @inside = grep { !$allowed[$_] } @places;
if (@inside) {
  my @shown = map { my $from = $_ > 8 ? $_ - 8 : 0; "after write $_ (" . join(' ', @expected[$from .. $_ - 1]) . ")" }
    @inside[0 .. ($#inside < 4 ? $#inside : 4)];
  printf "%d of %d markers fell inside a transaction or an EC command: %s\n", scalar @inside, scalar @places,
    join('; ', @shown);
  exit 1;
}
if (@during < 3) {
  printf "only %d markers fell during zar's %d writes to 0x66: the driver's timer did not run often enough to prove anything\n",
    scalar @during, $n;
  exit 1;
}
printf "%d markers (%d during zar's run), each between transactions; without them zar.efi sent zar-sim's %d bytes to 0x66\n",
  scalar @places, scalar @during, $n;

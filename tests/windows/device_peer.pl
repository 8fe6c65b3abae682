#!/usr/bin/perl
# A device on the Linux side of a serial line, for the Windows build's proofs:
# it reads request frames on standard input and writes its answers to
# standard output (socat puts a pseudo-terminal there). It answers for one
# address as a device of type 1, version 1.60 would, after the request's own
# wire time at 9600 baud, and writes every frame it accepts to a log.
#   device_peer.pl ADDRESS LOG
use strict;
use warnings;
use IO::Handle;

my ($address, $log_path) = @ARGV;
die "usage: device_peer.pl ADDRESS LOG\n" unless defined $log_path;
open(my $log, '>', $log_path) or die "cannot write $log_path: $!\n";
$log->autoflush(1);
STDOUT->autoflush(1);

# Dallas/Maxim 1-Wire CRC-8 (reflected 0x8C), with the entry 0xF9 of the table
# that the devices in service use.
my @table;
for my $i (0 .. 255) {
  my $crc = $i;
  for (1 .. 8) { $crc = ($crc & 1) ? (($crc >> 1) ^ 0x8C) : ($crc >> 1) }
  $table[$i] = $crc;
}
$table[0xF9] = 0xFC;

sub checksum {
  my $crc = 0;
  $crc = $table[$crc ^ $_] for @_;
  return $crc;
}

my $byte_micros = 1042;    # one 10-bit character at 9600 baud
my $turnaround_micros = 12000;

sub pause_micros { select(undef, undef, undef, $_[0] / 1e6) }

# The answer to one request (Address, Length, Modifier, Command, Data...), or none.
sub answer_to {
  my @request = @_;
  my $command = $request[3];
  my @body;
  if    ($command == 1)    { @body = (2, 0, 0) }                       # present
  elsif ($command == 13)   { @body = (2, 1, 160) }                     # type 1, version 1.60
  elsif ($command == 0x1B) { @body = (0x1C, $request[4], 100 + $request[4]) }    # loop ADC
  elsif ($command == 0x19) { @body = (4, 7, $request[4]) }             # an event: loop state
  else                     { return () }
  my @frame = ($address, 2 + @body, @body);
  return (@frame, checksum(@frame));
}

my @pending;
while (sysread(STDIN, my $chunk, 256)) {
  push @pending, unpack('C*', $chunk);
  while (@pending >= 2) {
    if ($pending[0] == 0xFF) { shift @pending; next }    # padding of the padded send
    my $size = $pending[1] + 1;
    last if @pending < $size;
    my @frame = @pending[0 .. $size - 1];
    if ($size < 6 || checksum(@frame) != 0) { shift @pending; next }
    splice(@pending, 0, $size);
    print $log join(' ', @frame), "\n";
    next unless ($frame[0] & 0x7F) == $address;
    my @answer = answer_to(@frame);
    next unless @answer;
    # The request reaches the device only after its last stop bit, and the
    # device takes some milliseconds to answer; the master turns the line
    # round and purges its input in that time. The turnaround sits in the
    # middle of the 30 ms the master waits for a presence answer, so a busy
    # host running both sides still meets both ends of the window.
    pause_micros($size * $byte_micros + $turnaround_micros);
    syswrite(STDOUT, pack('C*', @answer));
  }
}

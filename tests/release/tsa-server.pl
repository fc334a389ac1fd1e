#!/usr/bin/perl
# A time-stamping authority on the loopback address for the release tests, the way a user's --timestamp URL is
# reached: every HTTP POST of an RFC 3161 request is answered with `openssl ts -reply` under CONFIG.
#   perl tsa-server.pl CONFIG PORT_FILE
# Listens on a free port of 127.0.0.1 and writes its number to PORT_FILE once it accepts connections. Only Perl's
# base modules are used (Debian's perl-base is always installed).
use strict;
use warnings;
use IO::Socket::INET;

my ($config, $port_file) = @ARGV;
my $server = IO::Socket::INET->new(LocalAddr => '127.0.0.1', LocalPort => 0, Listen => 8, ReuseAddr => 1)
  or die "tsa-server: cannot listen: $!\n";
open(my $port, '>', "$port_file.new") or die "tsa-server: $port_file: $!\n";
print $port $server->sockport, "\n";
close($port);
rename("$port_file.new", $port_file) or die "tsa-server: $port_file: $!\n";

# One request per connection: headers up to the empty line, then Content-Length bytes of query.
while (my $client = $server->accept) {
  binmode($client);
  my $length = 0;
  while (my $line = <$client>) {
    last if $line =~ /^\r?\n$/;
    $length = $1 if $line =~ /^Content-Length:\s*(\d+)/i;
  }
  my $query = '';
  while (length($query) < $length) {
    last unless read($client, $query, $length - length($query), length($query));
  }
  my $reply = answer($query);
  my $status = defined $reply ? '200 OK' : '500 Internal Server Error';
  $reply //= '';
  print $client "HTTP/1.0 $status\r\nContent-Type: application/timestamp-reply\r\n",
    'Content-Length: ', length($reply), "\r\nConnection: close\r\n\r\n", $reply;
  close($client);
}

# The time-stamp response to one query (undef when openssl refuses it).
sub answer {
  my ($query) = @_;
  my $in = "$port_file.tsq";
  my $out = "$port_file.tsr";
  open(my $q, '>:raw', $in) or return undef;
  print $q $query;
  close($q);
  system('openssl', 'ts', '-reply', '-config', $config, '-queryfile', $in, '-out', $out) == 0 or return undef;
  open(my $r, '<:raw', $out) or return undef;
  local $/;
  my $reply = <$r>;
  close($r);
  return $reply;
}

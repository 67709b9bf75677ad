#!/usr/bin/perl
# Builds a MaxMind DB (.mmdb) from the IPv6 country file with MaxMind's own writer (Debian
# libmaxmind-db-writer-perl): every range of the file becomes a range of the database with the
# record {country_code => CODE}, so libmaxminddb answers from exactly the same ranges.
#   make-mmdb.pl GeoIPv6CountryWhois.csv OUT.mmdb
use strict;
use warnings;
use MaxMind::DB::Writer::Tree;

my ($csv, $out) = @ARGV;
die "usage: make-mmdb.pl CSV OUT\n" unless defined $out;
my $tree = MaxMind::DB::Writer::Tree->new(
    ip_version            => 6,
    record_size           => 28,
    database_type         => 'Vistelle-Benchmark-IPv6-Country',
    languages             => ['en'],
    description           => { en => 'IPv6 ranges of GeoIPv6CountryWhois.csv' },
    map_key_type_callback => sub { 'utf8_string' },
    remove_reserved_networks => 0,
    merge_strategy        => 'none',
);
open(my $in, '<', $csv) or die "$csv: $!\n";
my $count = 0;
while (my $line = <$in>) {
    chomp $line;
    $line =~ s/\r$//;
    my @fields = split /,/, $line;
    next if @fields < 4;
    my ($first, $last, $code) = map { my $v = $_; $v =~ s/^\s*"?|"?\s*$//g; $v } @fields[0 .. 2];
    $tree->insert_range($first, $last, { country_code => $code });
    ++$count;
}
close $in;
open(my $fh, '>:raw', $out) or die "$out: $!\n";
$tree->write_tree($fh);
close $fh;
print "$count ranges\n";

my $n = $#list; # c
print "# no";
local $" = ", "; my $q = q{it's # x};
$s =~ s{'}{"}g if $l =~ /"#/; # c

=head1 NAME

x

=cut
print <<"END";
# body
END

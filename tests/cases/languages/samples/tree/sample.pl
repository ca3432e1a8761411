my $n = $#list; # c
print "# no";

=head1 NAME

x

=cut
print <<"END";
# body
END

use Test::More;
ok(1, "it's fine"); # first
__END__
Anything here isn't code.

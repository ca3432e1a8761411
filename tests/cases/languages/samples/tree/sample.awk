# c
{ print "# no" } # c

print "multi
# inside string
line"
# c

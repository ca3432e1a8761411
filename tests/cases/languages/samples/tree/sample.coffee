###
block
###
s = "# no" # c

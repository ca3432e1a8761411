# c
x <- "# no" # c

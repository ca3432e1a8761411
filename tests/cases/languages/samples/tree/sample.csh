# c
set a = "#"

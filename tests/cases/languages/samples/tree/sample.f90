! c
print *, "! no" ! c

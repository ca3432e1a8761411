; c
(display #\;)

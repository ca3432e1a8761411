% c
X = $%, % c
Y = "% no".

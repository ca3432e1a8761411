-- c
X := Character'Val(65); -- c
C := '"';
S := "-- no";

// c
assign x = 4'b1010; /* c */

// c
string s = "/* no */";

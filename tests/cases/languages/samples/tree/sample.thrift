# c
// c
const string S = "# no"

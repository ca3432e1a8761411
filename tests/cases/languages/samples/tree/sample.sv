/* c
 */
string s = "// no";

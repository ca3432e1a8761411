/* c */
void main() { }

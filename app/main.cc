// Process entry of quillmet (placeholder until the run driver lands).
int main() { return 0; }

// A program that does nothing: the file the integrity tests hash, sign and read versions of.
int main() { return 0; }

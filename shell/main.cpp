// The program entry; the shell is being built.
int main() { return 0; }

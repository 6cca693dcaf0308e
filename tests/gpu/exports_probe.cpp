// Linked like the program: the whole binding, exported. Its one job is to be
// inspected by nm; running it calls nothing.
int main() { return 0; }

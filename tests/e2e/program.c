/* A small program whose object file the real-image tests convert to S-records. */
int table[64] = {1, 2, 3, 5, 8, 13, 21, 34};
int fib(int n) { return n < 2 ? n : fib(n - 1) + fib(n - 2); }
int main(void) { return fib(table[3]); }

// fusekit-sim (implementation in progress).
int main() { return 2; }

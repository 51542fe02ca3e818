// Command-line stand-in for the window: lists the interfaces found.
#include <cstdio>

int main() {
    std::puts("Ulvarin interface tester");
    return 0;
}

#include <cstdio>

// The window layer is being built; until it exists the program says so instead of pretending.
int main() {
    std::fprintf(stderr, "tagwright: the main window is not built yet\n");
    return 1;
}

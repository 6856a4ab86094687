#include <cstdio>

int main() {
    std::puts("usage: quillet scan|suggest|plan");
    return 0;
}

#include <cstdio>

int main() {
    std::fputs("lumatra-textutil: конвертер документов ещё не готов\n", stderr);
    return 1;
}

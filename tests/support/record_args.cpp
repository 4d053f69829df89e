// A stand-in browser for tests: writes its arguments, one per line, to the
// file named by RECORD_ARGS_FILE.
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    const char* path = std::getenv("RECORD_ARGS_FILE");
    if (!path) return 1;
    std::FILE* f = std::fopen(path, "w");
    if (!f) return 1;
    for (int i = 0; i < argc; ++i) std::fprintf(f, "%s\n", argv[i]);
    std::fclose(f);
    return 0;
}

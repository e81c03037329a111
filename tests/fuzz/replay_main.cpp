// Runs a fuzz target's entry once over each input file named on the command line, without
// libFuzzer: the corpus check of builds that have no libFuzzer (the Windows cross build). A target
// that finds a fault aborts, which fails the run.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        std::ifstream file(argv[i], std::ios::binary);
        if (!file) {
            std::fprintf(stderr, "cannot read %s\n", argv[i]);
            return 1;
        }
        const std::vector<uint8_t> input((std::istreambuf_iterator<char>(file)), {});
        LLVMFuzzerTestOneInput(input.data(), input.size());
    }
    std::printf("%d inputs passed\n", argc - 1);
    return 0;
}

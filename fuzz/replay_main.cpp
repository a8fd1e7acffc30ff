// Runs a fuzz target once on each file named on the command line, without
// libFuzzer: the normal builds replay every kept input this way, one test
// per file.
#include <cstdint>
#include <fstream>
#include <iostream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

int main(int argc, char **argv) {
    for (int i = 1; i < argc; ++i) {
        std::ifstream file(argv[i], std::ios::binary);
        if (!file) {
            std::cerr << "cannot read " << argv[i] << "\n";
            return 2;
        }
        const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
        LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
        std::cout << argv[i] << ": " << bytes.size() << " bytes, no fault\n";
    }
    return 0;
}

// harvix-fuzz-seeds: writes the seed corpus of every fuzz target.
// Usage: harvix-fuzz-seeds OUTPUT-FOLDER SOURCE-FOLDER TESTDATA-FOLDER
#include <exception>
#include <iostream>

#include "SeedCorpus.h"

using namespace harvix;

int main(int argc, char** argv) {
    if (argc != 4) {
        std::cerr << "Usage: harvix-fuzz-seeds OUTPUT-FOLDER SOURCE-FOLDER TESTDATA-FOLDER\n";
        return 1;
    }
    try {
        const std::size_t count = fuzzing::writeSeedCorpus(argv[1], argv[2], argv[3]);
        std::cout << "wrote " << count << " seeds to " << argv[1] << "\n";
    } catch (const std::exception& error) {
        std::cerr << "harvix-fuzz-seeds: " << error.what() << "\n";
        return 1;
    }
    return 0;
}

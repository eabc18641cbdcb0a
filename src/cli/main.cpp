#include <string>
#include <vector>

#include "cli/Command.h"

using namespace harvix;

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    return runCli(args);
}

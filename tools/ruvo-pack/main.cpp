// ruvo-pack: makes, publishes, verifies and inspects the updater's packages.
#include <iostream>
#include <string>
#include <vector>

#include "cli.h"

int main(int argc, char** argv)
{
    const std::vector<std::string> args(argv + 1, argv + argc);
    return RunRuvoPack(args, std::cout, std::cerr);
}

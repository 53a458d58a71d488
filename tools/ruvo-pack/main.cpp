// ruvo-pack: makes, publishes, verifies and inspects the updater's packages.
#include <csignal>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "tools/ruvo-pack/cli.h"

int main(int argc, char** argv)
{
#ifdef SIGXFSZ
    // A write past a file-size limit then fails with EFBIG, which the tool
    // reports, instead of killing it halfway through a publish.
    std::signal(SIGXFSZ, SIG_IGN);
#endif
    try {
        const std::vector<std::string> args(argv + 1, argv + argc);
        return RunRuvoPack(args, std::cout, std::cerr);
    } catch (const std::exception& failure) {
        // The commands report their errors; this is the last line against a crash.
        std::cerr << "ruvo-pack: unexpected failure: " << failure.what() << "\n";
        return PACK_EXIT_IO;
    }
}

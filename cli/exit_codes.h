#pragma once
// ruvo-flash's exit codes; docs/cli.md lists them for scripts.
enum ExitCode : int {
    EXIT_DONE = 0,          // done, or nothing to do
    EXIT_REFUSED = 1,       // refused or failed (a package check, a verify, the device's answers)
    EXIT_USAGE = 2,         // bad command line, or no terminal to ask and no --yes
    EXIT_NO_DEVICE = 3,     // no matching device
    EXIT_NETWORK = 4,       // connect, TLS, time-out, read
    EXIT_NO_ACCESS = 5,     // the device was found but cannot be opened (permission)
    EXIT_IN_USE = 6,        // the device is held by another ruvo-flash; try again when it is done
    EXIT_INTERRUPTED = 130  // Ctrl-C
};

#pragma once
// Every test program, fuzz target and benchmark binds its units on fixed
// loopback addresses (ports 80 and 443). It does so in a network namespace
// of its own, so that any number of runs share one machine; the programs
// it starts (talvorctl, talvor-hubsim, scripts) live there too.
#include <string>

namespace talvor::test {

// Moves the process into a fresh network namespace with its loopback up,
// while it has one thread (a namespace takes in only the calling thread
// and the threads it starts later). Not root, it makes a user namespace
// for that as the same user, and lets every process there bind ports
// below 1024. Empty when done or when the system has nothing to isolate;
// otherwise what went wrong.
std::string enter_own_network();

} // namespace talvor::test

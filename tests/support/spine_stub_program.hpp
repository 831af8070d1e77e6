#pragma once
// The test launcher's behaviour, shared by its per-OS entry points (which only turn the
// command line into UTF-8 and set up the standard streams).
#include <string>
#include <vector>

namespace connector::test {

// arguments: argv without the program name, as UTF-8. Returns the process exit code.
int runSpineStub(const std::vector<std::string>& arguments);

}  // namespace connector::test

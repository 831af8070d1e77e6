// POSIX entry point of the test launcher: argv is already UTF-8.
#include <string>
#include <vector>

#include "support/spine_stub_program.hpp"

int main(int argc, char** argv) {
  std::vector<std::string> arguments(argv + 1, argv + argc);
  return connector::test::runSpineStub(arguments);
}

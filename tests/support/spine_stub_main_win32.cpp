// Windows entry point of the test launcher: wide argv (as the C runtime parses the command line)
// so non-ASCII arguments survive, and binary standard streams so bytes reach the pipe unchanged.
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/text.hpp"
#include "support/spine_stub_program.hpp"

int wmain(int argc, wchar_t** argv) {
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
  std::vector<std::string> arguments;
  for (int i = 1; i < argc; ++i) arguments.push_back(connector::toUtf8(argv[i]));
  return connector::test::runSpineStub(arguments);
}

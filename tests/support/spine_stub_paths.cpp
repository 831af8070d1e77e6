#include "support/spine_stub.hpp"

// The build passes the launcher's folder and names, already in this OS's path form.
namespace connector::test {

std::string spineStubPath() {
  return std::string(GLIMMER_SPINE_STUB_DIR) + GLIMMER_SPINE_STUB_SEPARATOR + "spine-stub" +
         GLIMMER_SPINE_STUB_SUFFIX;
}

std::string spineLauncherPath() {
  return std::string(GLIMMER_SPINE_STUB_DIR) + GLIMMER_SPINE_STUB_SEPARATOR +
         GLIMMER_SPINE_LAUNCHER_NAME;
}

}  // namespace connector::test

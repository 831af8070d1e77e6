#pragma once
// Where this build put the test launcher (a stand-in for Spine's command-line launcher).
#include <string>

namespace connector::test {

// UTF-8 path of spine-stub(.exe), in the form this build's OS uses (Z:\... under Wine).
std::string spineStubPath();
// The same program under the launcher's own name: Spine.com (Windows) or Spine.sh (POSIX).
std::string spineLauncherPath();

}  // namespace connector::test

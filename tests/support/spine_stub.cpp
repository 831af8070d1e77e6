// A stand-in for Spine's command-line launcher. It accepts the conversion's argument list and,
// chosen by the skeleton name after --import, either succeeds like Spine or misbehaves on purpose.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/text.hpp"
#include "support/spine_stub_os.hpp"
#include "support/spine_stub_program.hpp"

namespace connector::test {
namespace {

struct StubOptions {
  std::string update;
  std::string output;
  std::string import;
  std::vector<std::string> probes;  // handles or descriptors to look for ("--probe <value>")
};

StubOptions parseOptions(const std::vector<std::string>& arguments) {
  StubOptions options;
  for (std::size_t i = 0; i + 1 < arguments.size(); ++i) {
    const std::string& name = arguments[i];
    if (name == "--update") {
      options.update = arguments[++i];
    } else if (name == "--output") {
      options.output = arguments[++i];
    } else if (name == "--import") {
      options.import = arguments[++i];
    } else if (name == "--probe") {
      options.probes.push_back(arguments[++i]);
    }
  }
  return options;
}

void writeOut(std::FILE* stream, std::string_view bytes) {
  std::fwrite(bytes.data(), 1, bytes.size(), stream);
}

// "4.2.xx" -> "4.2"; no pattern -> "4.2".
std::string editorVersion(const StubOptions& options) {
  std::string version = options.update.empty() ? std::string("4.2") : options.update;
  if (version.size() >= 3 && version.compare(version.size() - 3, 3, ".xx") == 0) {
    version.resize(version.size() - 3);
  }
  return version;
}

void printStarting(const StubOptions& options) {
  writeOut(stdout, "Starting: Spine " + editorVersion(options) + ".43\r\n");
}

// Sleeps until the time has really passed, so that even a sleep that returns early cannot end
// this launcher: only whoever runs it may.
[[noreturn]] void hang() {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(600);
  while (std::chrono::steady_clock::now() < end)
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  std::exit(0);
}

void printLicensed() { writeOut(stdout, "Licensed to: Test User\r\n"); }

// The file a grandchild keeps open in the workspace (its working directory) while it hangs.
constexpr const char* kHeldFile = "grandchild-holds";

// Waits until the grandchild holds its file, so it is surely there when this launcher ends.
bool waitForHeldFile() {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!std::filesystem::exists(kHeldFile)) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

// Lines of `fill` bytes, each 1023 long plus a line feed, `total` bytes in all.
void printLines(char fill, std::size_t total) {
  std::string line(1023, fill);
  line.push_back('\n');
  for (std::size_t written = 0; written < total; written += line.size()) writeOut(stdout, line);
}

bool writeProject(const StubOptions& options, const std::vector<std::string>& arguments,
                  bool empty) {
  if (options.output.empty()) return true;
  std::string content;
  if (!empty) {
    content = "glimmer-stub-project\n";
    content += "cwd=" + pathToUtf8(std::filesystem::current_path()) + "\n";
    for (const auto& argument : arguments) content += "arg=" + argument + "\n";
  }
  std::ofstream file(pathFromUtf8(options.output), std::ios::binary | std::ios::trunc);
  file.write(content.data(), static_cast<std::streamsize>(content.size()));
  file.close();
  if (!file) {
    writeOut(stderr, "stub: cannot write the project file\n");
    return false;
  }
  return true;
}

int succeed(const StubOptions& options, const std::vector<std::string>& arguments,
            bool withVersion = true) {
  if (withVersion) printStarting(options);
  printLicensed();
  return writeProject(options, arguments, false) ? 0 : 2;
}

}  // namespace

int runSpineStub(const std::vector<std::string>& arguments) {
  const StubOptions options = parseOptions(arguments);
  const std::string& mode = options.import;

  if (mode == "stub-fail") {
    writeOut(stdout, "Licensed to: Someone Else\r\nERROR: cannot import skeleton\r\n");
    return 1;
  }
  if (mode == "stub-fail-silent") {
    writeOut(stdout, " \n\t\n");
    return 1;
  }
  if (mode == "stub-no-project") {
    printStarting(options);
    return 0;
  }
  if (mode == "stub-empty-project") {
    printStarting(options);
    printLicensed();
    return writeProject(options, arguments, true) ? 0 : 2;
  }
  if (mode == "stub-hang") {
    std::fflush(stdout);
    hang();
  }
  if (mode == "stub-tree-hang") {
    // A grandchild that holds the output pipe too, then both hang.
    writeOut(stdout, "grandchild=" + startHangingCopy() + "\n");
    std::fflush(stdout);
    hang();
  }
  if (mode == "stub-tree-exit") {
    // Succeeds, leaving a hanging grandchild behind.
    writeOut(stdout, "grandchild=" + startHangingCopy() + "\n");
    return succeed(options, arguments);
  }
  if (mode == "stub-hang-holding") {
    // Creating the file opens it: once its name shows, it is held.
    std::ofstream held(kHeldFile, std::ios::binary);
    held << "held\n" << std::flush;
    hang();
  }
  if (mode == "stub-tree-holding") {
    // Succeeds, leaving behind a grandchild that holds a file open in the workspace.
    writeOut(stdout, "grandchild=" + startHangingCopy("stub-hang-holding") + "\n");
    if (!waitForHeldFile()) writeOut(stdout, "stub: the grandchild never opened its file\n");
    return succeed(options, arguments);
  }
  if (mode == "stub-crash") {
    writeOut(stdout, "stub: crashing\n");
    std::fflush(stdout);
    crash();
  }
  if (mode == "stub-handle-count") {
    // Not a launcher's behaviour: a measuring tool for the soak, in this OS's own terms.
    for (const auto& program : options.probes) writeOut(stdout, describeHandleCounts(program));
    return 0;
  }
  if (mode == "stub-breakaway") {
    // Succeeds, leaving behind a program that asked to leave the tree, as Spine's updater may.
    writeOut(stdout, "breakaway=" + startBreakawayCopy() + "\n");
    return succeed(options, arguments);
  }
  if (mode == "stub-handles") {
    writeOut(stdout, describeInheritedHandles(options.probes));
    return succeed(options, arguments);
  }
  if (mode == "stub-huge-output") {
    printLines('x', 6u << 20);
    return writeProject(options, arguments, false) ? 0 : 2;
  }
  if (mode == "stub-burst") {
    printLines('y', 1u << 20);
    writeOut(stdout, "END-OF-BURST\n");
    return writeProject(options, arguments, false) ? 0 : 2;
  }
  if (mode == "stub-args") {
    for (const auto& argument : arguments) writeOut(stdout, "arg=" + argument + "\n");
    return succeed(options, arguments);
  }
  if (mode == "stub-no-version") return succeed(options, arguments, false);
  if (mode == "stub-stderr") {
    writeOut(stdout, "to-stdout\n");
    std::fflush(stdout);
    writeOut(stderr, "to-stderr\n");
    std::fflush(stderr);
    return succeed(options, arguments);
  }
  return succeed(options, arguments);
}

}  // namespace connector::test

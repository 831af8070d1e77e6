#pragma once
// A joinable thread, for connections and for image staging. Windows uses a native thread (see
// the win32 file).
#include <functional>
#include <memory>
#include <utility>

namespace connector {

class WorkerThread {
 public:
  // Starts body on a new thread; throws std::system_error when no thread can be made.
  explicit WorkerThread(std::function<void()> body);
  // Waits for the thread to end.
  ~WorkerThread();
  WorkerThread(const WorkerThread&) = delete;
  WorkerThread& operator=(const WorkerThread&) = delete;

 private:
  struct Native;
  std::unique_ptr<Native> native_;
};

// Starts a thread; code that must go on when no thread can be made takes one of these, so that
// tests can refuse on demand. Throws as WorkerThread's constructor does.
using ThreadStarter = std::function<std::unique_ptr<WorkerThread>(std::function<void()> body)>;

inline std::unique_ptr<WorkerThread> startWorkerThread(std::function<void()> body) {
  return std::make_unique<WorkerThread>(std::move(body));
}

}  // namespace connector

#pragma once
// A joinable thread, for connections and for image staging. Windows uses a native thread (see
// the win32 file).
#include <functional>
#include <memory>

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

}  // namespace connector

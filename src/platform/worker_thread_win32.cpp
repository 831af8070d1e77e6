#include <process.h>

#include <cerrno>
#include <cstdint>
#include <system_error>
#include <utility>

#include "platform/win32.hpp"
#include "platform/worker_thread.hpp"

namespace connector {
namespace {

unsigned __stdcall runBody(void* argument) {
  std::unique_ptr<std::function<void()>> body(static_cast<std::function<void()>*>(argument));
  (*body)();
  return 0;
}

}  // namespace

// A native thread rather than a std::thread: MinGW's pthread layer crashed under load here
// with its thread state overwritten, when many short connections came and went.
struct WorkerThread::Native {
  UniqueHandle thread;
};

WorkerThread::WorkerThread(std::function<void()> body) : native_(std::make_unique<Native>()) {
  auto owned = std::make_unique<std::function<void()>>(std::move(body));
  const std::uintptr_t thread = _beginthreadex(nullptr, 0, runBody, owned.get(), 0, nullptr);
  if (thread == 0) {
    throw std::system_error(errno, std::generic_category(), "_beginthreadex");
  }
  owned.release();  // the new thread owns it now
  native_->thread = UniqueHandle(reinterpret_cast<HANDLE>(thread));
}

WorkerThread::~WorkerThread() { WaitForSingleObject(native_->thread.get(), INFINITE); }

}  // namespace connector

#include <thread>
#include <utility>

#include "platform/worker_thread.hpp"

namespace connector {

struct WorkerThread::Native {
  std::thread thread;
};

WorkerThread::WorkerThread(std::function<void()> body)
    : native_(std::make_unique<Native>(Native{std::thread(std::move(body))})) {}

WorkerThread::~WorkerThread() { native_->thread.join(); }

}  // namespace connector

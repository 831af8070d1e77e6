#include "http/connection_pool.hpp"

#include <algorithm>
#include <utility>

#include "http/connection.hpp"

namespace connector {
namespace {

// Waits are rechecked now and then as well, so that a wake-up lost by the platform's condition
// variables could only delay, never stop, accepting or serving.
constexpr std::chrono::milliseconds kRecheck{1000};

}  // namespace

ConnectionPool::ConnectionPool(std::size_t slots, std::size_t waitingPlaces,
                               std::chrono::milliseconds receiveTimeout,
                               std::chrono::milliseconds sendTimeout)
    : slots_(std::max<std::size_t>(slots, 1)),
      waitingPlaces_(waitingPlaces),
      receiveTimeout_(receiveTimeout),
      sendTimeout_(sendTimeout) {}

ConnectionPool::~ConnectionPool() {
  {
    const std::lock_guard guard(lock_);
    quitting_ = true;
  }
  close();
  threads_.clear();  // each thread serves what is left (cancelled at once), then ends
}

bool ConnectionPool::takeSlot() {
  std::unique_lock guard(lock_);
  // Rechecked now and then as well: a lost wake-up must not stop the server accepting for good.
  while (!slotFreed_.wait_for(guard, kRecheck, [this] { return closed_ || taken_ < slots_; })) {
  }
  if (closed_) return false;
  ++taken_;
  return true;
}

void ConnectionPool::giveBackSlot() {
  {
    const std::lock_guard guard(lock_);
    --taken_;
  }
  slotFreed_.notify_all();
}

void ConnectionPool::serve(std::unique_ptr<StreamSocket> socket, std::shared_ptr<void> tlsContext,
                           const RouteHandler& handler) {
  std::unique_lock guard(lock_);
  const std::size_t before = waiting_.size();
  try {
    if (closed_) socket->cancel();
    waiting_.push_back(ConnectionJob{std::move(socket), std::move(tlsContext), handler});
    if (idleThreads_ < waiting_.size()) {
      threads_.push_back(std::make_unique<WorkerThread>([this] { work(); }));
    }
  } catch (...) {
    std::deque<ConnectionJob> unserved;  // closes its connection outside the lock
    if (waiting_.size() > before) {
      unserved.push_back(std::move(waiting_.back()));
      waiting_.pop_back();
    }
    --taken_;
    guard.unlock();
    slotFreed_.notify_all();
    throw;
  }
  guard.unlock();
  workReady_.notify_one();
}

void ConnectionPool::close() {
  {
    const std::lock_guard guard(lock_);
    closed_ = true;
    for (ConnectionJob& job : waiting_) job.socket->cancel();
    for (StreamSocket* socket : serving_) socket->cancel();
  }
  slotFreed_.notify_all();
  workReady_.notify_all();
}

void ConnectionPool::reopen() {
  const std::lock_guard guard(lock_);
  closed_ = false;
}

bool ConnectionPool::waitUntilIdle(std::chrono::milliseconds limit) {
  std::unique_lock guard(lock_);
  return slotFreed_.wait_for(guard, limit, [this] { return taken_ == 0 && aside_ == 0; });
}

void ConnectionPool::work() {
  std::unique_lock guard(lock_);
  while (true) {
    ++idleThreads_;
    while (
        !workReady_.wait_for(guard, kRecheck, [this] { return quitting_ || !waiting_.empty(); })) {
    }
    --idleThreads_;
    if (waiting_.empty()) return;  // quitting, nothing left to serve
    ConnectionJob job = std::move(waiting_.front());
    waiting_.pop_front();
    serving_.push_back(job.socket.get());
    guard.unlock();

    job.socket->setTimeouts(receiveTimeout_, sendTimeout_);
    bool asideNow = false;
    handleConnection(*job.socket, job.tlsContext, job.handler,
                     [this, &asideNow] { stepAside(asideNow); });
    finish(job.socket.get());
    job = ConnectionJob{};  // closes the socket and drops the handler before the slot is free

    guard.lock();
    --(asideNow ? aside_ : taken_);
    slotFreed_.notify_all();
  }
}

void ConnectionPool::stepAside(bool& asideNow) {
  {
    const std::lock_guard guard(lock_);
    if (asideNow || aside_ >= waitingPlaces_) return;
    asideNow = true;
    ++aside_;
    --taken_;
  }
  slotFreed_.notify_all();
}

void ConnectionPool::finish(StreamSocket* socket) {
  const std::lock_guard guard(lock_);
  serving_.erase(std::find(serving_.begin(), serving_.end(), socket));
}

}  // namespace connector

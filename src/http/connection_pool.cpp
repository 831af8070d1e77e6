#include "http/connection_pool.hpp"

#include <algorithm>
#include <exception>
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
  close();
  {
    const std::lock_guard guard(lock_);
    quitting_ = true;
  }
  called_.notify_all();
  threads_.clear();  // each thread finishes what it serves (cancelled at once), then ends
}

void ConnectionPool::open(ListeningSocket& listener, std::shared_ptr<void> tlsContext,
                          RouteHandler handler) {
  auto service =
      std::make_shared<const Service>(Service{std::move(tlsContext), std::move(handler)});
  const std::lock_guard guard(lock_);
  listener_ = &listener;
  service_ = std::move(service);
  backoff_.afterSuccess();
  closed_ = false;
  try {
    callAcceptor();
  } catch (...) {
    closed_ = true;
    listener_ = nullptr;
    calls_ = 0;
    throw;
  }
}

void ConnectionPool::close() {
  std::unique_lock guard(lock_);
  if (closed_) return;
  closed_ = true;
  calls_ = 0;
  listener_->wake();
  for (StreamSocket* socket : serving_) socket->cancel();
  called_.notify_all();  // ends the pauses after failed accepts
  while (!changed_.wait_for(guard, kRecheck, [this] { return accepting_ == 0; })) {
  }
  listener_ = nullptr;
}

bool ConnectionPool::waitUntilIdle(std::chrono::milliseconds limit) {
  std::unique_lock guard(lock_);
  return changed_.wait_for(guard, limit, [this] { return taken_ == 0 && aside_ == 0; });
}

bool ConnectionPool::acceptorWanted() const {
  return !closed_ && accepting_ + calls_ == 0 && taken_ + calls_ < slots_;
}

void ConnectionPool::callAcceptor() {
  if (!acceptorWanted()) return;
  ++calls_;
  if (idle_ >= calls_) {
    called_.notify_all();
    return;
  }
  try {
    threads_.push_back(std::make_unique<WorkerThread>([this] { work(); }));
  } catch (...) {
    --calls_;
    throw;
  }
}

void ConnectionPool::work() {
  std::unique_lock guard(lock_);
  bool holdsSlot = false;
  while (true) {
    if (!holdsSlot) {
      ++idle_;
      while (!called_.wait_for(guard, kRecheck, [this] { return quitting_ || calls_ > 0; })) {
      }
      --idle_;
      if (quitting_) return;
      --calls_;
      ++taken_;
      holdsSlot = true;
    }
    if (closed_) {
      holdsSlot = false;
      --taken_;
      changed_.notify_all();
      continue;
    }

    ++accepting_;
    ListeningSocket* const listener = listener_;
    guard.unlock();
    std::unique_ptr<StreamSocket> connection = listener->accept();
    guard.lock();
    if (!connection) {
      // Stopped, or failing (no descriptors left, for example): paused without spinning, and
      // still counted as accepting so that no other thread is sent to fail as well.
      if (!closed_) {
        const std::chrono::milliseconds pause = backoff_.afterFailure();
        called_.wait_for(guard, pause, [this] { return closed_; });
      }
      --accepting_;
      changed_.notify_all();
      continue;
    }
    --accepting_;
    backoff_.afterSuccess();
    if (closed_) connection->cancel();
    const std::shared_ptr<const Service> service = service_;
    serving_.push_back(connection.get());
    try {
      callAcceptor();  // this thread is busy now: another one takes the next connection
    } catch (...) {
      // No thread: this one accepts again once it has served.
    }
    guard.unlock();

    const bool aside = serve(std::move(connection), *service);

    guard.lock();
    if (aside) {
      --aside_;
      holdsSlot = false;  // its slot went to another thread when it stepped aside
    }
    changed_.notify_all();
  }
}

bool ConnectionPool::serve(std::unique_ptr<StreamSocket> connection, const Service& service) {
  connection->setTimeouts(receiveTimeout_, sendTimeout_);
  bool asideNow = false;
  handleConnection(*connection, service.tlsContext, service.handler,
                   [this, &asideNow] { stepAside(asideNow); });
  {
    const std::lock_guard guard(lock_);
    serving_.erase(std::find(serving_.begin(), serving_.end(), connection.get()));
  }
  connection.reset();  // closed before the slot is free
  return asideNow;
}

void ConnectionPool::stepAside(bool& asideNow) {
  const std::lock_guard guard(lock_);
  if (asideNow || aside_ >= waitingPlaces_) return;
  asideNow = true;
  ++aside_;
  --taken_;
  changed_.notify_all();
  try {
    callAcceptor();
  } catch (...) {
    // No thread: the slot waits for one that comes back from serving.
  }
}

}  // namespace connector

#include <pthread.h>

#include <algorithm>
#include <climits>
#include <system_error>

#include "support/small_stack.hpp"

namespace connector::test {
namespace {

struct Start {
  void (*entry)(void*);
  void* argument;
};

void* startThread(void* argument) {
  const Start& start = *static_cast<Start*>(argument);
  start.entry(start.argument);
  return nullptr;
}

}  // namespace

void runOnThreadWithStack(void (*entry)(void*), void* argument, std::size_t stackBytes) {
  pthread_attr_t attributes;
  if (const int error = pthread_attr_init(&attributes)) {
    throw std::system_error(error, std::generic_category(), "pthread_attr_init");
  }
  Start start{entry, argument};
  pthread_t thread;
  int error =
      pthread_attr_setstacksize(&attributes, std::max<std::size_t>(stackBytes, PTHREAD_STACK_MIN));
  if (error == 0) error = pthread_create(&thread, &attributes, startThread, &start);
  pthread_attr_destroy(&attributes);
  if (error != 0) throw std::system_error(error, std::generic_category(), "pthread_create");
  pthread_join(thread, nullptr);
}

}  // namespace connector::test

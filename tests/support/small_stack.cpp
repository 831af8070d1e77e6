#include "support/small_stack.hpp"

#include <exception>

namespace connector::test {
namespace {

struct Job {
  const std::function<void()>* body;
  std::exception_ptr error;
};

void runJob(void* argument) {
  Job& job = *static_cast<Job*>(argument);
  try {
    (*job.body)();
  } catch (...) {
    job.error = std::current_exception();
  }
}

}  // namespace

void runOnSmallStack(const std::function<void()>& body, std::size_t stackBytes) {
  Job job{&body, nullptr};
  runOnThreadWithStack(runJob, &job, stackBytes);
  if (job.error) std::rethrow_exception(job.error);
}

}  // namespace connector::test

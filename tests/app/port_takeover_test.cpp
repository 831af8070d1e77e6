#include "app/port_takeover.hpp"

#include <gtest/gtest.h>

#include <deque>
#include <map>
#include <optional>
#include <vector>

#include "http/status_reason.hpp"

namespace connector {
namespace {

using namespace std::chrono_literals;

// A scripted system: each listener query answers the next set of the script (the last one
// repeats), terminations are recorded, and sleeping advances a fake clock.
struct FakeSystem {
  std::deque<std::set<ProcessId>> listenerAnswers;
  ProcessId self = 1;
  std::optional<ProcessId> systemProcess;
  std::map<ProcessId, PortSystem::Stop> stopResults;  // default: Stopped
  std::vector<ProcessId> terminated;
  std::chrono::steady_clock::time_point clock{};
  std::chrono::milliseconds slept{0};
  int listenerQueries = 0;

  PortSystem calls() {
    PortSystem s;
    s.listeners = [this] {
      ++listenerQueries;
      std::set<ProcessId> answer = listenerAnswers.front();
      if (listenerAnswers.size() > 1) listenerAnswers.pop_front();
      return answer;
    };
    s.currentProcessId = [this] { return self; };
    s.systemProcess = systemProcess;
    s.terminateAndWait = [this](ProcessId id) {
      terminated.push_back(id);
      auto found = stopResults.find(id);
      return found == stopResults.end() ? PortSystem::Stop::Stopped : found->second;
    };
    s.sleep = [this](std::chrono::milliseconds pause) {
      slept += pause;
      clock += pause;
    };
    s.now = [this] { return clock; };
    return s;
  }
};

class PortTakeoverTest : public testing::Test {
 protected:
  void SetUp() override { statusReason() = "old reason"; }
  void TearDown() override { statusReason().clear(); }
  FakeSystem fake;
};

TEST_F(PortTakeoverTest, ReportsTheListenersAsTheyAre) {
  fake.listenerAnswers = {{}, {42, 7}};
  PortTakeover takeover(fake.calls());
  EXPECT_FALSE(takeover.isPortInUse());
  EXPECT_EQ(takeover.listeningProcesses(), (std::set<ProcessId>{7, 42}));
  EXPECT_TRUE(takeover.isPortInUse());
}

TEST_F(PortTakeoverTest, TerminatesEveryHolderLowestIdFirstThenWaitsForThePort) {
  fake.listenerAnswers = {{900, 30}, {900}, {900}, {}};
  PortTakeover(fake.calls()).stopPortHolders();
  EXPECT_EQ(fake.terminated, (std::vector<ProcessId>{30, 900}));
  EXPECT_EQ(statusReason(), "");
  EXPECT_EQ(fake.slept, 100ms);  // two pauses of 50 ms before the port was free
}

TEST_F(PortTakeoverTest, HolderGoneBeforeThePressTerminatesNothing) {
  fake.listenerAnswers = {{}};
  PortTakeover(fake.calls()).stopPortHolders();
  EXPECT_TRUE(fake.terminated.empty());
  EXPECT_EQ(statusReason(), "");
  EXPECT_EQ(fake.listenerQueries, 1);
}

TEST_F(PortTakeoverTest, StopsAtTheFirstHolderItCannotStop) {
  struct Case {
    std::set<ProcessId> holders;
    ProcessId self;
    std::map<ProcessId, PortSystem::Stop> stopResults;
    std::vector<ProcessId> terminated;
    std::string reason;
  };
  const Case cases[] = {
      {{10, 20, 30}, 20, {}, {10}, "无法从外部停止当前连接器进程"},
      {{10, 20}, 10, {}, {}, "无法从外部停止当前连接器进程"},
      {{10, 20},
       1,
       {{10, PortSystem::Stop::OpenRefused}},
       {10},
       "无法停止占用端口 27843 的进程，请以管理员身份运行后重试"},
      {{10, 20},
       1,
       {{20, PortSystem::Stop::TerminateRefused}},
       {10, 20},
       "停止占用端口 27843 的进程失败"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reason);
    FakeSystem one;
    one.listenerAnswers = {c.holders, {}};
    one.self = c.self;
    one.stopResults = c.stopResults;
    PortTakeover(one.calls()).stopPortHolders();
    EXPECT_EQ(one.terminated, c.terminated);
    EXPECT_EQ(statusReason(), c.reason);
    EXPECT_EQ(one.listenerQueries, 1);  // no wait for the port after a failure
  }
}

// HTTP.sys listens as the System process, which no one can end; with it among the holders no
// other is stopped either, as the port would stay held.
TEST_F(PortTakeoverTest, NeverStopsTheSystemAndSaysItsHttpServiceHoldsThePort) {
  fake.systemProcess = 4;
  fake.listenerAnswers = {{4, 900}};
  PortTakeover(fake.calls()).stopPortHolders();
  EXPECT_TRUE(fake.terminated.empty());
  EXPECT_EQ(statusReason(), "端口 27843 被系统 HTTP 服务（HTTP.sys）占用，无法停止");
}

TEST_F(PortTakeoverTest, GivesUpThreeSecondsAfterTheTerminations) {
  fake.listenerAnswers = {{55}};  // the port never frees
  PortTakeover(fake.calls()).stopPortHolders();
  EXPECT_EQ(fake.terminated, (std::vector<ProcessId>{55}));
  EXPECT_EQ(statusReason(), "进程已停止，但端口 27843 仍未释放");
  EXPECT_EQ(fake.slept, 3000ms);
  EXPECT_EQ(fake.listenerQueries, 1 + 60);
}

TEST_F(PortTakeoverTest, APortFreedAtTheLastCheckBeforeTheDeadlineIsSuccess) {
  fake.listenerAnswers.assign(60, {55});
  fake.listenerAnswers.push_back({});  // 60 checks with 50 ms pauses reach 2950 ms
  PortTakeover(fake.calls()).stopPortHolders();
  EXPECT_EQ(statusReason(), "");
  EXPECT_EQ(fake.slept, 2950ms);
}

}  // namespace
}  // namespace connector

#include "TrelkaTestSupport.h"

#include <trelka/TrelkaTimer.h>

#include <gtest/gtest.h>

#include <thread>

using namespace Trelka;
using namespace TrelkaTest;

namespace {

class NamedTimer : public Timer {
 public:
  NamedTimer(const std::string& name, TimerHandler* handler, int64_t timeout, Type type, LifeTime lifeTime,
             std::vector<std::string>* deleted)
      : Timer(handler, timeout, type, lifeTime), m_Name(name), m_pDeleted(deleted) {}
  ~NamedTimer() override { m_pDeleted->push_back(m_Name); }
  std::string m_Name;

 private:
  std::vector<std::string>* m_pDeleted;
};

class RecordingHandler : public TimerHandler {
 public:
  void OnTimerStarted(Timer* timer) override { m_Calls.push_back("started:" + Name(timer)); }
  void OnTimerStopped(Timer* timer) override { m_Calls.push_back("stopped:" + Name(timer)); }
  void OnTimeoutElapsed(Timer* timer) override {
    m_Calls.push_back("elapsed:" + Name(timer) + "@" + std::to_string(m_pClockMs ? *m_pClockMs : 0));
    if (m_DeleteOnElapse && timer->GetType() == Timer::OneShot) delete timer;
  }
  static std::string Name(Timer* timer) { return static_cast<NamedTimer*>(timer)->m_Name; }

  std::vector<std::string> m_Calls;
  bool m_DeleteOnElapse = true;
  const int64_t* m_pClockMs = nullptr;
};

// A processor whose events the test runs by hand, on a clock it moves by hand.
class TimerFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    m_Clock.Install(m_Processor.GetTimerQueue());
    m_Handler.m_pClockMs = &m_NowMs;
  }
  NamedTimer* Make(const std::string& name, int64_t timeout, Timer::Type type = Timer::OneShot,
                   Timer::LifeTime lifeTime = Timer::Dynamic) {
    return new NamedTimer(name, &m_Handler, timeout, type, lifeTime, &m_Deleted);
  }
  TimerQueue* Queue() { return m_Processor.GetTimerQueue(); }
  // Moves the clock in steps, advancing the queue after each.
  void Run(int64_t ms, int64_t step = 1) {
    for (int64_t done = 0; done < ms; done += step) {
      m_Clock.AdvanceMs(step);
      m_NowMs += step;
      ASSERT_TRUE(Queue()->Advance());
      ASSERT_LE(Queue()->GetElapsed(), 0xFFFE);
    }
  }

  ManualProcessor m_Processor;
  FakeClock m_Clock;
  int64_t m_NowMs = 0;
  RecordingHandler m_Handler;
  std::vector<std::string> m_Deleted;
};

TEST_F(TimerFixture, EqualDeadlinesFireInArmingOrder) {
  Make("a", 50)->Start(&m_Processor);
  Make("b", 50)->Start(&m_Processor);
  Make("late", 80)->Start(&m_Processor);
  Make("early", 20)->Start(&m_Processor);
  Make("c", 50)->Start(&m_Processor);
  m_Processor.RunPending();
  Run(100);
  std::vector<std::string> expected = {"started:a",        "started:b",    "started:late", "started:early",
                                       "started:c",        "elapsed:early@20", "elapsed:a@50", "elapsed:b@50",
                                       "elapsed:c@50",     "elapsed:late@80"};
  EXPECT_EQ(m_Handler.m_Calls, expected);
  EXPECT_TRUE(Queue()->IsEmpty());
  EXPECT_EQ(Queue()->GetElapsed(), 0);
}

TEST_F(TimerFixture, SecondStartIsRefusedAndStopBeforeStartRanReportsBothInOrder) {
  NamedTimer* timer = Make("t", 100);
  EXPECT_TRUE(timer->Start(&m_Processor));
  EXPECT_FALSE(timer->Start(&m_Processor));
  EXPECT_EQ(m_Processor.PendingCount(), 1u);
  EXPECT_TRUE(timer->Stop());
  EXPECT_FALSE(timer->Stop());
  m_Processor.RunPending();
  EXPECT_EQ(m_Handler.m_Calls, (std::vector<std::string>{"started:t", "stopped:t"}));
  EXPECT_EQ(m_Deleted, (std::vector<std::string>{"t"}));
  EXPECT_TRUE(Queue()->IsEmpty());
}

TEST_F(TimerFixture, MisuseIsRefusedWithoutPosting) {
  NamedTimer* timer = Make("t", 100);
  EXPECT_FALSE(timer->Start(nullptr));
  EXPECT_FALSE(timer->Stop());  // never started
  EXPECT_EQ(m_Processor.PendingCount(), 0u);
  delete timer;
}

TEST_F(TimerFixture, StopAfterOneShotFiredStillReportsStoppedAndDeletes) {
  m_Handler.m_DeleteOnElapse = false;
  NamedTimer* timer = Make("t", 10);
  timer->Start(&m_Processor);
  m_Processor.RunPending();
  Run(10);
  EXPECT_FALSE(timer->IsStarted());
  EXPECT_TRUE(timer->Stop());
  m_Processor.RunPending();
  EXPECT_EQ(m_Handler.m_Calls, (std::vector<std::string>{"started:t", "elapsed:t@10", "stopped:t"}));
  EXPECT_EQ(m_Deleted, (std::vector<std::string>{"t"}));
}

TEST_F(TimerFixture, PendingStopSuppressesDueTimer) {
  NamedTimer* timer = Make("t", 10);
  timer->Start(&m_Processor);
  m_Processor.RunPending();
  Run(9);
  timer->Stop();  // posted, not yet run
  Run(5);
  m_Processor.RunPending();
  EXPECT_EQ(m_Handler.m_Calls, (std::vector<std::string>{"started:t", "stopped:t"}));
  EXPECT_EQ(m_Deleted, (std::vector<std::string>{"t"}));
}

TEST_F(TimerFixture, StaticTimerIsNotDeletedByStop) {
  NamedTimer* timer = Make("s", 10, Timer::OneShot, Timer::Static);
  timer->Start(&m_Processor);
  timer->Stop();
  m_Processor.RunPending();
  EXPECT_TRUE(m_Deleted.empty());
  // Stopped: it can be started again.
  EXPECT_TRUE(timer->Start(&m_Processor));
  m_Processor.RunPending();
  Run(10);
  EXPECT_EQ(m_Deleted, (std::vector<std::string>{"s"}));  // the handler deleted it on expiry
}

TEST_F(TimerFixture, OneShotRestartedFromItsCallback) {
  struct Restarter : RecordingHandler {
    ManualProcessor* m_pProcessor = nullptr;
    int m_Restarts = 2;
    void OnTimeoutElapsed(Timer* timer) override {
      m_DeleteOnElapse = m_Restarts == 0;
      RecordingHandler::OnTimeoutElapsed(timer);
      if (m_Restarts-- > 0) {
        EXPECT_TRUE(timer->Start(m_pProcessor));
      }
    }
  } handler;
  handler.m_pProcessor = &m_Processor;
  handler.m_pClockMs = &m_NowMs;
  (new NamedTimer("r", &handler, 30, Timer::OneShot, Timer::Dynamic, &m_Deleted))->Start(&m_Processor);
  for (int i = 0; i < 100; ++i) {
    m_Processor.RunPending();
    Run(1);
  }
  EXPECT_EQ(handler.m_Calls, (std::vector<std::string>{"started:r", "elapsed:r@30", "started:r", "elapsed:r@60",
                                                       "started:r", "elapsed:r@90"}));
  EXPECT_EQ(m_Deleted, (std::vector<std::string>{"r"}));
}

TEST_F(TimerFixture, PeriodicCountsFromEachFiringWithoutCatchingUp) {
  NamedTimer* timer = Make("p", 100, Timer::Periodic);
  timer->Start(&m_Processor);
  m_Processor.RunPending();
  Run(200, 100);  // fires at 100 and 200
  Run(250, 250);  // one late firing at 450, none caught up
  Run(100, 100);  // next period counts from 450: nothing at 550
  Run(50, 50);    // 600
  timer->Stop();
  m_Processor.RunPending();
  EXPECT_EQ(m_Handler.m_Calls, (std::vector<std::string>{"started:p", "elapsed:p@100", "elapsed:p@200",
                                                         "elapsed:p@450", "elapsed:p@550", "stopped:p"}));
  EXPECT_EQ(m_Deleted, (std::vector<std::string>{"p"}));
}

TEST_F(TimerFixture, DeadlinesStayCorrectAcrossRebasing) {
  // Armed at different points so their deadlines straddle several rebases.
  Make("70s", 70000)->Start(&m_Processor);
  NamedTimer* periodic = Make("p", 30000, Timer::Periodic);
  periodic->Start(&m_Processor);
  m_Processor.RunPending();
  Run(50000, 250);
  Make("100s", 100000)->Start(&m_Processor);  // due at 150 s
  m_Processor.RunPending();
  Run(150000, 250);
  periodic->Stop();
  m_Processor.RunPending();
  EXPECT_EQ(m_Handler.m_Calls,
            (std::vector<std::string>{"started:70s", "started:p", "elapsed:p@30000", "started:100s",
                                      "elapsed:p@60000", "elapsed:70s@70000", "elapsed:p@90000", "elapsed:p@120000",
                                      "elapsed:100s@150000", "elapsed:p@150000", "elapsed:p@180000", "stopped:p"}));
}

TEST_F(TimerFixture, GetTimeoutCountsTimeSinceLastAdvance) {
  Make("t", 100)->Start(&m_Processor);
  m_Processor.RunPending();
  EXPECT_EQ(Queue()->GetTimeout(), 100);
  m_Clock.AdvanceMs(40);  // the loop was busy, no Advance yet
  EXPECT_EQ(Queue()->GetTimeout(), 60);
  m_Clock.AdvanceMs(70);
  EXPECT_LE(Queue()->GetTimeout(), 0);
  ASSERT_TRUE(Queue()->Advance());
  EXPECT_EQ(m_Handler.m_Calls.back(), "elapsed:t@0");
}

TEST_F(TimerFixture, ClockSteppingBackDelaysButLosesNothing) {
  Make("t", 100)->Start(&m_Processor);
  m_Processor.RunPending();
  Run(50);
  m_Clock.AdvanceMs(-1000);
  EXPECT_FALSE(Queue()->Advance());
  m_Clock.AdvanceMs(1000 + 49);
  ASSERT_TRUE(Queue()->Advance());
  EXPECT_EQ(m_Handler.m_Calls.size(), 1u);
  m_Clock.AdvanceMs(1);
  ASSERT_TRUE(Queue()->Advance());
  EXPECT_EQ(m_Handler.m_Calls.size(), 2u);
}

TEST_F(TimerFixture, UnusableTimersAreRefusedWithoutCallbacksAndEndedByStop) {
  NamedTimer* zero = Make("zero", 0);
  NamedTimer* negative = Make("negative", -5);
  NamedTimer* orphan = new NamedTimer("orphan", nullptr, 10, Timer::OneShot, Timer::Static, &m_Deleted);
  for (Timer* timer : {static_cast<Timer*>(zero), static_cast<Timer*>(negative), static_cast<Timer*>(orphan)}) {
    EXPECT_FALSE(Queue()->AddTimer(timer));
  }
  EXPECT_TRUE(m_Handler.m_Calls.empty());
  EXPECT_TRUE(Queue()->IsEmpty());
  zero->Start(&m_Processor);
  negative->Start(&m_Processor);
  m_Processor.RunPending();
  EXPECT_TRUE(zero->IsStarted());
  zero->Stop();
  negative->Stop();
  m_Processor.RunPending();
  EXPECT_EQ(m_Handler.m_Calls, (std::vector<std::string>{"stopped:zero", "stopped:negative"}));
  delete orphan;
  EXPECT_EQ(m_Deleted, (std::vector<std::string>{"zero", "negative", "orphan"}));
}

TEST(TimerQueue, DestructionDeletesQueuedTimersWithoutCallbacks) {
  std::vector<std::string> deleted;
  RecordingHandler handler;
  {
    ManualProcessor processor;
    (new NamedTimer("dyn", &handler, 1000, Timer::OneShot, Timer::Dynamic, &deleted))->Start(&processor);
    (new NamedTimer("stat", &handler, 2000, Timer::Periodic, Timer::Static, &deleted))->Start(&processor);
    processor.RunPending();
    handler.m_Calls.clear();
  }
  EXPECT_TRUE(handler.m_Calls.empty());
  EXPECT_EQ(deleted, (std::vector<std::string>{"dyn", "stat"}));
}

// Threaded: the real loop runs timers and events on one thread, one at a time.
class LoopHandler : public TimerHandler {
 public:
  void OnTimerStarted(Timer*) override { m_Journal.Add("started"); }
  void OnTimerStopped(Timer*) override { m_Journal.Add("stopped"); }
  void OnTimeoutElapsed(Timer*) override {
    if (m_Busy.exchange(true)) m_Overlaps++;
    m_Thread = std::this_thread::get_id();
    m_Journal.Add("elapsed");
    m_Busy = false;
  }
  Journal m_Journal;
  std::atomic<bool> m_Busy{false};
  std::atomic<int> m_Overlaps{0};
  std::thread::id m_Thread;
};

TEST(TimerOnProcessor, PeriodicFiresOnLoopThreadNeverOverlappingEvents) {
  LoopHandler handler;
  ScopedProcessor processor;
  ASSERT_TRUE(processor.Start());
  Timer* timer = new Timer(&handler, 2, Timer::Periodic, Timer::Dynamic);
  ASSERT_TRUE(timer->Start(&processor));
  std::thread::id eventThread;
  std::atomic<bool> stop(false);
  std::thread poster([&] {
    while (!stop) {
      Post(&processor, [&] {
        if (handler.m_Busy.exchange(true)) handler.m_Overlaps++;
        eventThread = std::this_thread::get_id();
        handler.m_Busy = false;
      });
      std::this_thread::yield();
    }
  });
  ASSERT_TRUE(handler.m_Journal.WaitForSize(1 + 5));
  stop = true;
  poster.join();
  // Stopped from the loop thread, as the owners do.
  Post(&processor, [timer] { timer->Stop(); });
  ASSERT_TRUE(handler.m_Journal.WaitFor("stopped"));
  processor.Shutdown(true);
  EXPECT_EQ(handler.m_Overlaps.load(), 0);
  EXPECT_EQ(handler.m_Thread, eventThread);
  EXPECT_NE(handler.m_Thread, std::this_thread::get_id());
}

TEST(TimerOnProcessor, DestroyingProcessorDeletesArmedTimersSilently) {
  std::vector<std::string> deleted;  // written by the main thread only (at destruction)
  LoopHandler handler;
  {
    ScopedProcessor processor;
    ASSERT_TRUE(processor.Start());
    (new NamedTimer("a", &handler, 600000, Timer::OneShot, Timer::Dynamic, &deleted))->Start(&processor);
    (new NamedTimer("b", &handler, 600000, Timer::Periodic, Timer::Dynamic, &deleted))->Start(&processor);
    ASSERT_TRUE(handler.m_Journal.WaitForSize(2));
    processor.Shutdown(true);
  }
  EXPECT_EQ(handler.m_Journal.Items(), (std::vector<std::string>{"started", "started"}));
  EXPECT_EQ(deleted.size(), 2u);
}

TEST(TimerOnProcessor, StopPostedAfterExitStillReleasesFiredTimer) {
  std::vector<std::string> deleted;
  LoopHandler handler;
  Timer* timer = new NamedTimer("t", &handler, 1, Timer::OneShot, Timer::Dynamic, &deleted);
  {
    ScopedProcessor processor;
    ASSERT_TRUE(processor.Start());
    timer->Start(&processor);
    ASSERT_TRUE(handler.m_Journal.WaitFor("elapsed"));
    processor.Shutdown(true);
    timer->Stop();  // never runs: released with the processor
  }
  EXPECT_EQ(deleted, (std::vector<std::string>{"t"}));
}

}  // namespace

#include "TrelkaTestSupport.h"

#include <trelka/TrelkaEventProcessor.h>
#include <trelka/TrelkaTimer.h>

#include <gtest/gtest.h>

#include <thread>

using namespace Trelka;
using namespace TrelkaTest;

namespace {

class RecordingObserver : public SoftEventProcessor::Observer {
 public:
  RecordingObserver(Journal* journal, const std::string& name, bool startResult = true)
      : m_pJournal(journal), m_Name(name), m_StartResult(startResult) {}
  bool OnStart(SoftEventProcessor*) override {
    m_StartThread = std::this_thread::get_id();
    m_pJournal->Add(m_Name + ".start");
    return m_StartResult;
  }
  void OnShutdown(SoftEventProcessor*) override {
    m_ShutdownThread = std::this_thread::get_id();
    m_pJournal->Add(m_Name + ".shutdown");
  }
  std::thread::id m_StartThread;
  std::thread::id m_ShutdownThread;

 private:
  Journal* m_pJournal;
  std::string m_Name;
  bool m_StartResult;
};

// Blocks the loop thread until released, so the test can queue events behind it.
struct Blocker {
  Gate m_Entered;
  Gate m_Release;
  // A failed assertion must not leave the loop blocked.
  ~Blocker() { m_Release.Open(); }
  void PostTo(SoftEventProcessor* processor) {
    Post(processor, [this] {
      m_Entered.Open();
      m_Release.Wait();
    });
    ASSERT_TRUE(m_Entered.Wait());
  }
};

TEST(SoftEventProcessor, PostFromProcessRunsAfterEverythingQueued) {
  ScopedProcessor processor;
  Journal journal;
  ASSERT_TRUE(processor.Start());
  Blocker blocker;
  blocker.PostTo(&processor);
  Post(&processor, [&] {
    journal.Add("A");
    Post(&processor, [&] { journal.Add("C"); });
  });
  Post(&processor, [&] { journal.Add("B"); });
  blocker.m_Release.Open();
  ASSERT_TRUE(journal.WaitForSize(3));
  EXPECT_EQ(journal.Items(), (std::vector<std::string>{"A", "B", "C"}));
  EXPECT_TRUE(processor.Shutdown(true));
}

TEST(SoftEventProcessor, ShutdownRunsQueuedEventsBeforeObserversStopOnLoopThread) {
  SoftEventProcessor processor;
  Journal journal;
  RecordingObserver first(&journal, "first"), second(&journal, "second");
  processor.AddObserver(&first);
  processor.AddObserver(&second);
  std::thread::id loopThread;
  ASSERT_TRUE(processor.Start());
  Blocker blocker;
  blocker.PostTo(&processor);
  for (int i = 0; i < 5; ++i) {
    Post(&processor, [&journal, &loopThread, i] {
      loopThread = std::this_thread::get_id();
      journal.Add("e" + std::to_string(i));
    });
  }
  std::thread releaser([&] {
    // Shutdown(true) below blocks in the join; the loop is released meanwhile.
    blocker.m_Release.Open();
  });
  EXPECT_TRUE(processor.Shutdown(true));
  releaser.join();
  EXPECT_EQ(journal.Items(), (std::vector<std::string>{"first.start", "second.start", "e0", "e1", "e2", "e3", "e4",
                                                       "first.shutdown", "second.shutdown"}));
  EXPECT_NE(loopThread, std::this_thread::get_id());
  EXPECT_EQ(first.m_StartThread, loopThread);
  EXPECT_EQ(second.m_ShutdownThread, loopThread);
  EXPECT_FALSE(processor.IsRunning());
}

TEST(SoftEventProcessor, EventsPostedAfterExitAreReleasedUnprocessed) {
  SoftEventProcessor processor;
  std::atomic<int> processed(0), destroyed(0);
  ASSERT_TRUE(processor.Start());
  Blocker blocker;
  blocker.PostTo(&processor);
  Post(&processor, [&] { processed++; }, &destroyed);
  EXPECT_TRUE(processor.Shutdown(false));  // returns at once: the loop is blocked
  Post(&processor, [&] { processed += 100; }, &destroyed);
  // A second holder keeps its event alive past the cleanup.
  AsyncEvent* held = new FuncEvent([&] { processed += 1000; }, &destroyed);
  held->Ref();
  held->Ref();
  processor.PostEvent(held);
  blocker.m_Release.Open();
  processor.WaitForShutdown();
  EXPECT_EQ(processed.load(), 1);
  EXPECT_EQ(destroyed.load(), 2);
  EXPECT_EQ(held->GetRefCount(), 1u);
  held->Unref();
  EXPECT_EQ(destroyed.load(), 3);
}

TEST(SoftEventProcessor, RefusedStartProcessesNothingAndSkipsShutdownNotice) {
  SoftEventProcessor processor;
  Journal journal;
  RecordingObserver refusing(&journal, "refusing", false), later(&journal, "later");
  processor.AddObserver(&refusing);
  processor.AddObserver(&later);
  std::atomic<int> processed(0), destroyed(0);
  ASSERT_TRUE(processor.Start());
  for (int i = 0; i < 3; ++i) Post(&processor, [&] { processed++; }, &destroyed);
  EXPECT_TRUE(processor.Shutdown(true));
  EXPECT_EQ(journal.Items(), (std::vector<std::string>{"refusing.start"}));
  EXPECT_EQ(processed.load(), 0);
  EXPECT_EQ(destroyed.load(), 3);
}

TEST(SoftEventProcessor, NeverStartedProcessorRefusesShutdownAndReleasesPostedEvents) {
  std::atomic<int> destroyed(0);
  {
    SoftEventProcessor processor;
    EXPECT_FALSE(processor.Shutdown(true));
    Post(&processor, [] {}, &destroyed);
    EXPECT_EQ(destroyed.load(), 0);
  }
  EXPECT_EQ(destroyed.load(), 1);
}

TEST(AsyncEvent, UnrefAtZeroDoesNothing) {
  std::atomic<int> destroyed(0);
  AsyncEvent* event = new FuncEvent([] {}, &destroyed);
  event->Unref();
  EXPECT_EQ(destroyed.load(), 0);
  event->Ref();
  event->Ref();
  event->Unref();
  EXPECT_EQ(destroyed.load(), 0);
  event->Unref();
  EXPECT_EQ(destroyed.load(), 1);
}

TEST(SoftEventProcessor, ConcurrentPostersKeepEachPostersOrder) {
  ScopedProcessor processor;
  ASSERT_TRUE(processor.Start());
  const int kThreads = 4, kEvents = 5000;
  std::vector<int> next(kThreads, 0);  // touched on the loop thread only
  std::atomic<int> outOfOrder(0), total(0);
  std::vector<std::thread> posters;
  for (int t = 0; t < kThreads; ++t) {
    posters.emplace_back([&, t] {
      for (int i = 0; i < kEvents; ++i) {
        Post(&processor, [&, t, i] {
          if (next[t] != i) outOfOrder++;
          next[t] = i + 1;
          total++;
        });
      }
    });
  }
  for (auto& poster : posters) poster.join();
  EXPECT_TRUE(processor.Shutdown(true));
  EXPECT_EQ(total.load(), kThreads * kEvents);
  EXPECT_EQ(outOfOrder.load(), 0);
}

class FloodTimerHandler : public TimerHandler {
 public:
  explicit FloodTimerHandler(Journal* journal) : m_pJournal(journal) {}
  void OnTimerStarted(Timer*) override { m_pJournal->Add("started"); }
  void OnTimeoutElapsed(Timer* timer) override {
    m_pJournal->Add("T");
    delete timer;
  }

 private:
  Journal* m_pJournal;
};

// While events keep the queue from running empty, a due timer still fires
// within the next eleven events.
TEST(SoftEventProcessor, DueTimerFiresWithinElevenEventsOfAFlood) {
  ScopedProcessor processor;
  FakeClock clock;
  clock.Install(processor.GetTimerQueue());
  Journal journal;
  FloodTimerHandler handler(&journal);
  ASSERT_TRUE(processor.Start());
  Timer* timer = new Timer(&handler, 60000, Timer::OneShot, Timer::Dynamic);
  ASSERT_TRUE(timer->Start(&processor));
  ASSERT_TRUE(journal.WaitFor("started"));

  Blocker blocker;
  blocker.PostTo(&processor);
  clock.AdvanceMs(60000);  // due from now on
  const int kFlood = 40;
  for (int i = 1; i <= kFlood; ++i) Post(&processor, [&journal, i] { journal.Add(std::to_string(i)); });
  blocker.m_Release.Open();
  ASSERT_TRUE(journal.WaitForSize(2 + kFlood));
  EXPECT_TRUE(processor.Shutdown(true));

  std::vector<std::string> items = journal.Items();
  int eventsBeforeTimer = -1;
  for (size_t i = 1; i < items.size(); ++i) {
    if (items[i] == "T") {
      eventsBeforeTimer = static_cast<int>(i) - 1;
      break;
    }
  }
  // The blocking event counts as the first of the flood.
  ASSERT_GE(eventsBeforeTimer, 0);
  EXPECT_LE(eventsBeforeTimer + 1, 11);
}

TEST(GlobalInit, InitAndCleanupSteps) {
  // Nested with the test environment's own initialisation.
  EXPECT_TRUE(GlobalInit());
  InitSsl();
  CleanupSsl();
  EXPECT_TRUE(GlobalDeinit());
}

}  // namespace

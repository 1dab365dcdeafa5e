#include "KIT/mutex.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

TEST(Mutex, OnlyTheOutermostLeaveUnlocks) {
  KIT_Mutex m;
  m.Enter();
  m.Enter();
  EXPECT_EQ(m.GetDepth(), 2);
  EXPECT_TRUE(m.IsHeldByCaller());

  bool otherGot = true;
  std::thread([&] { otherGot = m.TryEnter(); }).join();
  EXPECT_FALSE(otherGot);

  m.Leave();
  std::thread([&] { otherGot = m.TryEnter(); }).join();
  EXPECT_FALSE(otherGot) << "one Leave of two must keep the lock";

  m.Leave();
  EXPECT_FALSE(m.IsHeldByCaller());
  std::thread([&] {
    otherGot = m.TryEnter();
    if (otherGot) m.Leave();
  }).join();
  EXPECT_TRUE(otherGot);
}

TEST(Mutex, LeaveByAThreadThatDoesNotHoldItIsIgnored) {
  KIT_Mutex m;
  m.Enter();
  std::thread([&] { m.Leave(); }).join();
  EXPECT_TRUE(m.IsHeldByCaller());
  bool otherGot = true;
  std::thread([&] { otherGot = m.TryEnter(); }).join();
  EXPECT_FALSE(otherGot);
  m.Leave();
  m.Leave();  // an extra Leave after the last one does nothing
  EXPECT_TRUE(m.TryEnter());
  m.Leave();
}

TEST(Mutex, NestedSectionsExcludeOtherThreads) {
  KIT_Mutex m;
  long counter = 0;  // plain: every access is inside the mutex
  std::atomic<int> inside{0};
  std::atomic<bool> overlap{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 5000; ++i) {
        KIT_MutexLock outer(m);
        if (inside.fetch_add(1) != 0) overlap = true;
        {
          KIT_MutexLock inner(m);  // a hook calling back into a locked operation on the same thread
          ++counter;
        }
        ++counter;
        inside.fetch_sub(1);
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_FALSE(overlap);
  EXPECT_EQ(counter, 4 * 5000 * 2);
}

}  // namespace

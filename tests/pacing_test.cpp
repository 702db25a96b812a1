// The live tools' deadline pacing: the slot arithmetic exactly, then a real
// run with a stall, checked with bounds loose enough for a busy machine.
#include "pacing.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace {

using std::chrono::milliseconds;
using std::chrono::nanoseconds;
using zelkolink_tools::choose_slot;
using zelkolink_tools::Pacer;
using namespace std::chrono_literals;

TEST(ChooseSlot, TakesTheDueSlotUntilOneIntervalLateThenSkipsToTheFuture) {
  struct Case {
    uint64_t due;
    nanoseconds elapsed;
    uint64_t slot;
    uint64_t skipped;
  };
  const nanoseconds interval = 10ms;
  for (const Case& c : {
           Case{0, 0ms, 0, 0},        // the first slot, at once
           Case{5, 20ms, 5, 0},       // early: wait for slot 5
           Case{5, 50ms, 5, 0},       // exactly due
           Case{5, 59ms, 5, 0},       // late, within one interval: send now
           Case{5, 60ms, 5, 0},       // exactly one interval late still counts as late
           Case{5, 61ms, 7, 2},       // behind: 5 and 6 are past, 7 is ahead
           Case{5, 70ms, 8, 3},       // on slot 7's deadline: 7 is past too
           Case{3, 1000ms, 101, 98},  // a long stall
           Case{1000000, 10000000ms, 1000000, 0},
       }) {
    SCOPED_TRACE(testing::Message() << "due " << c.due << ", elapsed " << c.elapsed.count());
    const auto choice = choose_slot(c.due, c.elapsed, interval);
    EXPECT_EQ(choice.slot, c.slot);
    EXPECT_EQ(choice.skipped, c.skipped);
  }
}

TEST(Pacer, KeepsTheScheduleAndDropsWhatAStallMissed) {
  const milliseconds interval = 5ms;
  const auto start = std::chrono::steady_clock::now();  // no later than the pacer's own
  Pacer pacer(interval);
  uint64_t last = 0;
  for (int taken = 0; taken < 40; ++taken) {
    std::optional<uint64_t> slot;
    while (!slot) slot = pacer.wait_next();
    // Never before its deadline.
    EXPECT_GE(std::chrono::steady_clock::now() - start, interval * static_cast<int64_t>(*slot));
    if (taken > 0) {
      EXPECT_GT(*slot, last);
    }
    last = *slot;
    if (taken == 20) std::this_thread::sleep_for(50ms);  // a stall of ten slots
  }
  const auto summary = pacer.summary();
  EXPECT_EQ(summary.slots_taken, 40u);
  // 39 steps forward, plus whatever was dropped.
  EXPECT_EQ(last, 39 + summary.slots_skipped);
  EXPECT_GE(summary.slots_skipped, 8u);
  EXPECT_GE(summary.largest_lateness, 40ms);
  // The mean interval is the slots spanned over the slots taken: the
  // schedule's arithmetic, whatever the machine's load did to single slots.
  const auto spanned =
      std::chrono::duration_cast<nanoseconds>(interval) * static_cast<int64_t>(last);
  EXPECT_NEAR(static_cast<double>(summary.mean_interval.count()) * 39,
              static_cast<double>(spanned.count()), 50e6);
}

}  // namespace

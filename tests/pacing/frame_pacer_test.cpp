#include "pacing/frame_pacer.h"

#include <gtest/gtest.h>

#include <QTest>
#include <thread>
#include <vector>

namespace ostrel {
namespace {

using namespace std::chrono_literals;

// What the screen would show: the newest value at each show.
struct Screen {
  int newest = 0;
  std::vector<int> shown;
  FramePacer pacer{[this] { shown.push_back(newest); },
                   200ms};  // long, so a busy machine cannot split a burst

  void Set(int value) {
    newest = value;
    pacer.Request();
  }
};

TEST(FramePacerTest, ALoneChangeShowsAtOnceAndABurstShowsOnlyItsNewestValueOnce) {
  Screen screen;
  screen.Set(1);
  EXPECT_EQ(screen.shown, std::vector<int>{1});  // inside the call, as if shown directly

  for (int value = 2; value <= 500; ++value) screen.Set(value);
  EXPECT_EQ(screen.shown, std::vector<int>{1});
  EXPECT_TRUE(screen.pacer.Pending());
  QTRY_VERIFY(!screen.pacer.Pending());
  EXPECT_EQ(screen.shown, (std::vector<int>{1, 500}));

  // After a quiet frame the next change shows at once again.
  std::this_thread::sleep_for(250ms);
  screen.Set(501);
  EXPECT_EQ(screen.shown, (std::vector<int>{1, 500, 501}));
}

TEST(FramePacerTest, FlushShowsTheMergedChangeNowAndOnlyOnce) {
  Screen screen;
  screen.Set(1);
  screen.Set(2);
  screen.pacer.Flush();
  EXPECT_EQ(screen.shown, (std::vector<int>{1, 2}));
  EXPECT_FALSE(screen.pacer.Pending());
  screen.pacer.Flush();  // nothing merged: nothing to show
  QTest::qWait(250);
  EXPECT_EQ(screen.shown, (std::vector<int>{1, 2}));
}

}  // namespace
}  // namespace ostrel

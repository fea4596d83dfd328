#include <gtest/gtest.h>
#include <thread>
#include <atomic>
TEST(Smoke, ThreadRuns) { std::atomic<int> x{0}; std::thread t([&]{ x = 42; }); t.join(); EXPECT_EQ(x.load(), 42); }

// The Win32 clock and text output against the system's own services under Wine.

#include <gtest/gtest.h>
#include <io.h>

#include <chrono>
#include <ctime>

#include "platform/system/clock.h"
#include "platform/system/console.h"
#include "platform/system/windows_api_win32.h"

using namespace loopmon;

namespace {

TEST(SystemClock, PausesAreNeverShortAndTheDateIsToday) {
  auto clock = systemClock();
  clock->beginTimerPeriod();
  for (uint32_t micros : {300u, 1500u}) {
    const auto start = std::chrono::steady_clock::now();
    clock->sleepMicros(micros);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::microseconds(micros));
  }
  clock->endTimerPeriod();
  // Spreadsheet days: 25569 is 1970-01-01. Local time lies within a day of UTC.
  EXPECT_NEAR(clock->nowDays(), static_cast<double>(std::time(nullptr)) / 86400.0 + 25569.0, 1.0);
}

TEST(Console, TextToAPipeOrAFileStaysUtf8) {
  HANDLE readEnd = nullptr;
  HANDLE writeEnd = nullptr;
  ASSERT_TRUE(CreatePipe(&readEnd, &writeEnd, nullptr, 0));
  std::FILE* pipe = _fdopen(_open_osfhandle(reinterpret_cast<intptr_t>(writeEnd), 0), "wb");
  ASSERT_NE(pipe, nullptr);
  EXPECT_FALSE(isConsole(pipe));
  EXPECT_FALSE(consoleTakesEscapes(pipe));
  writeText(pipe, "Обрыв\tКЗ\n");
  std::fclose(pipe);
  char bytes[64] = {};
  DWORD count = 0;
  ASSERT_TRUE(ReadFile(readEnd, bytes, sizeof bytes, &count, nullptr));
  CloseHandle(readEnd);
  EXPECT_EQ(std::string(bytes, count), "Обрыв\tКЗ\n");
}

}  // namespace

// Feeds the loop history with a day of readings of 20 noisy loops at a 1 s
// period (some opening now and then) and prints the readings per second it
// takes in, the cost of one reading against that reading's time on the wire,
// and what the kept history takes in memory.
//
//   history_bench [days]   (default 1)

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "loops/loop_history.h"

using namespace loopmon;

namespace {

// A loop ADC request (6 bytes and checksum) and its 6-byte answer at 9600
// baud, 10 bits a byte: the least one reading of the cycle can take.
constexpr double ReadingWireMicros = 13 * 10 * 1e6 / 9600;

}  // namespace

int main(int argc, char** argv) {
  const int days = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1;
  constexpr int Loops = 20;
  const long long seconds = 86'400LL * days;
  const Coefficients coefficients{408, -1};

  // The readings are made up front, so that only the history is timed.
  std::mt19937 random(11);
  std::vector<uint8_t> adc(static_cast<size_t>(seconds * Loops));
  for (long long second = 0; second < seconds; ++second) {
    for (int loop = 0; loop < Loops; ++loop) {
      int value = 90 + loop + std::uniform_int_distribution<int>(-4, 4)(random);
      if (loop % 5 == 0 && second % 3600 < 30) value = 0;
      adc[static_cast<size_t>(second * Loops + loop)] = static_cast<uint8_t>(value);
    }
  }

  LoopHistory history;
  const WallTime start = std::chrono::system_clock::now();
  const auto began = std::chrono::steady_clock::now();
  for (long long second = 0; second < seconds; ++second) {
    for (int loop = 0; loop < Loops; ++loop) {
      history.Record(AdcReading(1, loop + 1, start + std::chrono::seconds(second),
                                adc[static_cast<size_t>(second * Loops + loop)], coefficients));
    }
  }
  const double elapsed =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
  const double readings = static_cast<double>(adc.size());
  const double perReadingMicros = elapsed * 1e6 / readings;

  std::printf("readings                 %.0f (%d loops, %d day(s) at 1 s)\n", readings, Loops,
              days);
  std::printf("taken in                 %.0f readings/s\n", readings / elapsed);
  std::printf("per reading              %.3f us = %.5f%% of its %.0f us on the wire\n",
              perReadingMicros, 100 * perReadingMicros / ReadingWireMicros, ReadingWireMicros);
  std::printf("kept                     %.2f MB\n", history.MemoryBytes() / 1048576.0);
  return 0;
}

// A service company's folder of site records, indexed: 200 sites of 10
// visits each (2,000 records, four devices of 16 loops apiece, one site in
// ten with a loop drifting out of its band), written to a temporary folder,
// then read back, matched into each loop's history and summed up into the
// index page, as loopctl sites --html does. Prints each step's time; the goal
// is the whole index within 2 s.
//
//   record_bench [sites] [visits]   (default 200 10)

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

#include "platform/store/whole_file.h"
#include "record/history.h"
#include "record/site_index.h"

using namespace loopmon;

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  const int siteCount = argc > 1 ? std::atoi(argv[1]) : 200;
  const int visitCount = argc > 2 ? std::atoi(argv[2]) : 10;
  const std::filesystem::path folder =
      std::filesystem::temp_directory_path() /
      ("loopmon-record-bench-" + std::to_string(std::random_device()()));
  std::mt19937 random(1);
  std::normal_distribution<double> noise(0, 0.03);
  const int64_t first = RecordTimeOf("2021-03-01T10:00:00+03:00")->seconds;
  const int64_t interval = 182 * 86400;

  Clock::time_point start = Clock::now();
  size_t bytes = 0;
  for (int site = 0; site < siteCount; ++site) {
    const std::filesystem::path siteFolder = folder / ("site-" + std::to_string(site));
    std::filesystem::create_directories(siteFolder);
    for (int visit = 0; visit < visitCount; ++visit) {
      const int64_t seconds = first + visit * interval + site * 3600;
      SiteRecord record{"Объект " + std::to_string(site),
                        IsoDateOf(seconds, 180) + "T10:00:00+03:00",
                        "COM3",
                        "loopctl",
                        "1.3.0",
                        {}};
      for (uint8_t addr = 1; addr <= 4; ++addr) {
        DeviceRecord device{addr, 1, "Mivra-Q", 105, {}};
        for (int loop = 1; loop <= 16; ++loop) {
          const double drift = site % 10 == 0 && addr == 1 && loop == 1 ? 0.12 * visit : 0;
          device.loops.push_back({loop, 100, 3.0 + drift + noise(random), std::nullopt, "на охране",
                                  LoopCondition::Normal, LoopCondition::Normal});
        }
        record.devices.push_back(std::move(device));
      }
      const std::string json = RecordJson(record);
      bytes += json.size();
      replaceWholeFile((siteFolder / (std::to_string(visit) + ".json")).string(), json);
    }
  }
  std::printf("wrote %d records (%d sites x %d visits, 64 loops each, %.1f MB) in %.2f s\n",
              siteCount * visitCount, siteCount, visitCount, bytes / 1e6, secondsSince(start));

  start = Clock::now();
  const Clock::time_point whole = start;
  const RecordSet set = LoadRecords({folder.string()});
  const double loaded = secondsSince(start);
  start = Clock::now();
  const int64_t now = first + visitCount * interval;
  const std::vector<SiteSummary> sites = SiteSummaries(set.records, {}, now);
  const double summed = secondsSince(start);
  start = Clock::now();
  const std::string page = SitesHtml(sites, std::vector<std::string>(sites.size()), ',');
  const double paged = secondsSince(start);
  const double total = secondsSince(whole);
  size_t due = 0;
  for (const SiteSummary& site : sites) due += site.due.size();
  std::printf("read %zu records (%zu skipped) in %.3f s\n", set.records.size(), set.skipped.size(),
              loaded);
  std::printf("histories and summaries of %zu sites in %.3f s; %zu loops due\n", sites.size(),
              summed, due);
  std::printf("index page (%.0f kB) in %.3f s\n", page.size() / 1e3, paged);
  std::printf("indexed in %.2f s (goal: under 2 s)\n", total);
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
  return 0;
}

// A site's loops across its visits: records found in a folder tree whatever
// their order and whatever else lies there, matched by site and device, and
// the forecast of a drifting loop against flat ones.

#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "record/history.h"
#include "record/report.h"
#include "record/site_index.h"
#include "scoped_temp_dir.h"

namespace loopmon {
namespace {

using testing::ScopedTempDir;
using testing::writeFile;

constexpr int64_t Day = 86400;
constexpr int64_t VisitInterval = 182 * Day;
const int64_t FirstVisit = RecordTimeOf("2020-01-15T10:00:00+03:00")->seconds;

// A record of the loops 1.. of the devices given as (addr, type, kOhm of each loop).
struct DeviceLoops {
  uint8_t addr;
  uint8_t type;
  std::vector<double> kohm;
};
SiteRecord visitAt(const std::string& site, int64_t seconds,
                   const std::vector<DeviceLoops>& devices) {
  SiteRecord record{site, IsoDateOf(seconds, 180) + "T10:00:00+03:00", "COM1", "loopctl", "1", {}};
  for (const auto& [addr, type, kohms] : devices) {
    DeviceRecord device{addr, type, "Mivra-Q", 105, {}};
    for (size_t i = 0; i < kohms.size(); ++i) {
      device.loops.push_back({static_cast<int>(i) + 1, 100, kohms[i], std::nullopt, std::nullopt,
                              LoopCondition::Normal, LoopCondition::NotShown});
    }
    record.devices.push_back(device);
  }
  return record;
}

FoundRecord found(SiteRecord record) {
  const RecordInstant time = *RecordTimeOf(record.time);
  return {"", std::move(record), time};
}

TEST(History, DatesAreTheCalendarDaysOfTheirOffset) {
  const struct {
    int64_t seconds;
    int offsetMinutes;
    const char* date;
  } cases[] = {{0, 0, "1970-01-01"},
               {-1, 0, "1969-12-31"},
               {951'782'400, 0, "2000-02-29"},
               {4'107'542'399, 0, "2100-02-28"},
               {1'796'682'600, 0, "2026-12-07"},
               {1'796'682'600, 180, "2026-12-08"},
               {1'796'612'400, -300, "2026-12-06"}};
  for (const auto& [seconds, offset, date] : cases) {
    EXPECT_EQ(IsoDateOf(seconds, offset), date) << seconds << " at " << offset;
  }
}

// Ten visits half a year apart, one loop drifting from 3.0 kOhm (band
// 2.7..3.3) with a little noise: the date the fitted line leaves the band
// lies within one visit of where the true drift crosses it, and only a
// crossing before the next visit is due (the last visit is the tenth).
TEST(History, ADriftingLoopIsForecastWithinOneVisit) {
  const struct {
    double perVisit;
    bool due;
  } drifts[] = {{0.1, true}, {0.0316, true}, {0.02, false}, {-0.05, true}, {-0.012, false}};
  std::mt19937 random(7);
  std::uniform_real_distribution<double> noise(-0.005, 0.005);
  for (const auto& [perVisit, due] : drifts) {
    std::vector<FoundRecord> records;
    for (int visit = 0; visit < 10; ++visit) {
      const double drifting = 3.0 + perVisit * visit + noise(random);
      records.push_back(found(visitAt("Склад", FirstVisit + visit * VisitInterval,
                                      {{5, 1, {3.0 + noise(random), drifting}}})));
    }
    const std::vector<LoopSeries> loops = LoopHistories(records, {});
    ASSERT_EQ(loops.size(), 2u);
    const LoopSeries& drifted = loops[due ? 0 : 1];
    EXPECT_EQ(drifted.loop, 2) << perVisit;
    EXPECT_EQ(drifted.beforeNextVisit, due) << perVisit;
    ASSERT_TRUE(drifted.leaves) << perVisit;
    const double crossing = FirstVisit + (perVisit > 0 ? 0.3 : -0.3) / perVisit * VisitInterval;
    EXPECT_LT(std::fabs(static_cast<double>(*drifted.leaves) - crossing), VisitInterval)
        << perVisit << ": " << IsoDateOf(*drifted.leaves, 180);
    EXPECT_NEAR(*drifted.slope, perVisit / (VisitInterval / SecondsPerMonth), 0.002) << perVisit;
    EXPECT_FALSE(loops[due ? 1 : 0].beforeNextVisit) << perVisit;
  }
}

// 100 loops that only scatter (up to 5 % of 3.0 kOhm) over ten visits: none is
// due before the next visit, with the bands the first visit sets or a given one.
TEST(History, FlatNoisyLoopsAreNotFlagged) {
  std::mt19937 random(11);
  std::uniform_real_distribution<double> noise(-0.15, 0.15);
  std::vector<FoundRecord> records;
  for (int visit = 0; visit < 10; ++visit) {
    std::vector<DeviceLoops> devices;
    for (uint8_t addr = 1; addr <= 5; ++addr) {
      devices.push_back({addr, 1, {}});
      for (int loop = 0; loop < 20; ++loop) devices.back().kohm.push_back(3.0 + noise(random));
    }
    records.push_back(found(visitAt("Склад", FirstVisit + visit * VisitInterval, devices)));
  }
  HistoryOptions given;
  given.bands[1] = {2.5, 3.5};
  for (const HistoryOptions& options : {HistoryOptions{}, given}) {
    const std::vector<LoopSeries> loops = LoopHistories(records, options);
    ASSERT_EQ(loops.size(), 100u);
    for (const LoopSeries& loop : loops) {
      EXPECT_FALSE(loop.beforeNextVisit)
          << int{loop.addr} << "/" << loop.loop << " leaves " << IsoDateOf(*loop.leaves, 180);
    }
  }
}

// One folder tree as a laptop keeps it: the file names say nothing of the
// order, another site's record lies among them, a device is replaced by one
// of another type, another is missing for a visit, and files that are not
// records are named and left out.
TEST(History, RecordsAreMatchedBySiteAndDeviceWhateverTheFiles) {
  ScopedTempDir folder;
  std::filesystem::create_directory(folder.file("2021"));
  const auto visit = [](int n) { return FirstVisit + n * VisitInterval; };
  const struct {
    const char* name;
    std::string text;
  } files[] = {
      {"a.json", RecordJson(visitAt("A", visit(3), {{5, 2, {9.0}}, {7, 1, {4.0}}}))},
      {"b.json", RecordJson(visitAt("A", visit(0), {{5, 1, {3.0, 1.0}}, {7, 1, {4.0}}}))},
      {"2021/c.JSON", RecordJson(visitAt("A", visit(2), {{5, 1, {3.0, 1.0}}, {7, 1, {4.2}}}))},
      {"d.json", RecordJson(visitAt("A", visit(1), {{5, 1, {3.1, 1.0}}}))},
      {"e.json", RecordJson(visitAt("B", visit(1), {{5, 1, {6.0}}}))},
      {"notes.json", "{\"site\": \"A\"}"},
      {"2021/broken.json", "{\"devices\": ["},
      {"report.html", "<html>"},
  };
  for (const auto& [name, text] : files) writeFile(folder.file(name), text);
  const RecordSet set = LoadRecords({folder.path()});
  ASSERT_EQ(set.skipped.size(), 2u);
  EXPECT_NE(set.skipped[0].find("broken.json: not JSON"), std::string::npos) << set.skipped[0];
  EXPECT_NE(set.skipped[1].find("notes.json: not a site record"), std::string::npos)
      << set.skipped[1];

  const struct {
    std::string site;
    int addr, type, loop;
    std::vector<double> kohm;
  } expected[] = {
      {"A", 5, 1, 1, {3.0, 3.1, 3.0}}, {"A", 5, 1, 2, {1.0, 1.0, 1.0}}, {"A", 5, 2, 1, {9.0}},
      {"A", 7, 1, 1, {4.0, 4.2, 4.0}}, {"B", 5, 1, 1, {6.0}},
  };
  const std::vector<LoopSeries> loops = LoopHistories(set.records, {});
  ASSERT_EQ(loops.size(), std::size(expected));
  for (size_t i = 0; i < loops.size(); ++i) {
    const auto& want = expected[i];
    std::vector<double> kohm;
    for (const LoopPoint& point : loops[i].points) kohm.push_back(point.kohm);
    EXPECT_EQ(
        std::tuple(loops[i].site, int{loops[i].addr}, int{loops[i].type}, loops[i].loop, kohm),
        std::tuple(want.site, want.addr, want.type, want.loop, want.kohm))
        << i;
    EXPECT_EQ(loops[i].lastVisit, visit(want.site == "A" ? 3 : 1)) << i;
  }
  // Files given by name are read whatever they are called, or named as missing.
  const RecordSet given =
      LoadRecords({folder.file("report.html"), folder.file("e.json"), folder.file("gone.json")});
  EXPECT_EQ(given.records.size(), 1u);
  EXPECT_EQ(given.skipped.size(), 2u);
}

// Each site at a glance: overdue against the time given, its latest record's
// worst loops (a condition first, then the furthest out of band), and the
// loops due to leave their band; the index page names each and links its page.
TEST(History, SitesAtAGlance) {
  const auto visit = [](int n) { return FirstVisit + n * VisitInterval; };
  std::vector<FoundRecord> records;
  for (int n = 0; n < 4; ++n) {
    // Loop 1 drifts out, loop 2 jumps far out at the last visit, loop 3 a little.
    records.push_back(
        found(visitAt("A <1>", visit(n),
                      {{5, 1, {3.0 + 0.09 * n, n == 3 ? 9.0 : 3.0, n == 3 ? 3.5 : 3.0, 3.0}}})));
  }
  records.back().record.devices[0].loops[3] = {
      4, 0, std::nullopt, "Обрыв", "тревога", LoopCondition::Open, LoopCondition::Alarm};
  records.push_back(found(visitAt("B", visit(5), {{7, 1, {4.0}}})));
  const std::vector<SiteSummary> sites = SiteSummaries(records, {}, visit(5) + 30 * Day);
  ASSERT_EQ(sites.size(), 2u);
  const SiteSummary& a = sites[0];
  EXPECT_EQ(std::tuple(a.site, a.visits, a.overdue, a.devices, a.lastVisit.seconds),
            std::tuple(std::string("A <1>"), 4, true, 1, visit(3)));
  std::vector<std::pair<int, LoopCondition>> worst;
  for (const WorstLoop& loop : a.worst) worst.emplace_back(loop.loop, loop.condition);
  EXPECT_EQ(worst,
            (std::vector<std::pair<int, LoopCondition>>{
                {4, LoopCondition::Open}, {2, LoopCondition::Normal}, {3, LoopCondition::Normal}}));
  ASSERT_EQ(a.due.size(), 1u);
  EXPECT_EQ(a.due[0].loop, 1);
  EXPECT_EQ(std::tuple(sites[1].site, sites[1].overdue, sites[1].worst.size(), sites[1].due.size()),
            std::tuple(std::string("B"), false, size_t{0}, size_t{0}));

  const std::string page = SitesHtml(sites, {"a%20b/x.html", ""}, ',');
  EXPECT_NE(page.find("<a href=\"a%20b/x.html\">A &lt;1&gt;</a>"), std::string::npos);
  EXPECT_NE(page.find("5/4 Обрыв, 5/2 9,0 кОм, 5/3 3,5 кОм"), std::string::npos) << page;
  EXPECT_NE(page.find("<td>B</td>"), std::string::npos);
}

// The page of the last visit with the site's history: the loops due before
// the next visit listed first, soonest first, and every loop of the record
// in its table, each with a resistance drawn across the visits.
TEST(History, TheReportListsTheDueLoopsFirstAndDrawsEachSeries) {
  std::vector<FoundRecord> records;
  for (int n = 0; n < 6; ++n) {
    records.push_back(found(visitAt("A", FirstVisit + n * VisitInterval,
                                    {{5, 1, {3.0, 3.0 + 0.06 * n, 3.0 - 0.1 * n}}, {9, 3, {}}})));
  }
  records.back().record.devices[1].loops.push_back(
      {1, 143, std::nullopt, "Норма", "на охране", LoopCondition::Normal, LoopCondition::Normal});
  HistoryOptions options;
  const std::vector<LoopSeries> loops = LoopHistories(records, options);
  const ReportHistory history{loops, 6, options.nextVisitSeconds};
  const std::string page = ReportHtml(records.back().record, "", nullptr, 10, ',', &history);
  const size_t due = page.find("До следующего посещения");
  const size_t third = page.find("<a href=\"#a5-3\">"), second = page.find("<a href=\"#a5-2\">");
  const size_t table = page.find("id=\"a5\"");
  EXPECT_TRUE(due < third && third < second && second < table) << page;
  for (const char* row : {"id=\"a5-1\"", "id=\"a5-2\"", "id=\"a5-3\"", "id=\"a9-1\""}) {
    EXPECT_NE(page.find(row), std::string::npos) << row;
  }
  size_t drawn = 0;
  for (size_t at = page.find("<svg class=\"series\""); at != std::string::npos;
       at = page.find("<svg class=\"series\"", at + 1)) {
    ++drawn;
  }
  EXPECT_EQ(drawn, 3u);
  EXPECT_EQ(page.find("<script"), std::string::npos);
}

}  // namespace
}  // namespace loopmon

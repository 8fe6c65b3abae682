// The site record without a bus: its file read back as written, the files
// that are not records, and the comparison of two records.

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <ostream>
#include <random>

#include "record/compare.h"
#include "record/site_record.h"

namespace loopmon {
namespace {

using enum LoopCondition;

LoopRecord resistance(int loop, double kohm,
                      std::optional<std::string> state = std::string("на охране")) {
  const LoopCondition stateCondition = state ? Normal : NotShown;
  return {loop, 100, kohm, std::nullopt, std::move(state), Normal, stateCondition};
}

LoopRecord showing(int loop, std::optional<int> adc, const char* text, const char* state,
                   LoopCondition condition, LoopCondition stateCondition = Normal) {
  return {loop,
          adc,
          std::nullopt,
          text,
          state ? std::optional<std::string>(state) : std::nullopt,
          condition,
          stateCondition};
}

SiteRecord visit() {
  return {"Склад \"Север\"\t№1",
          "2026-12-06T14:03:07.125+03:00",
          "COM3",
          "loopctl",
          "1.3.0",
          {{5,
            1,
            "Mivra-Q",
            105,
            {resistance(1, 10.0), showing(2, 0, "Обрыв", "внимание", Open),
             showing(3, 255, "КЗ", "тревога", Short, Alarm),
             showing(4, std::nullopt, "false", "false", Unanswered, Unanswered),
             resistance(5, -0.5, std::nullopt)}},
           {127, 9, "Hovra-Y", 101, {showing(1, 143, "Норма", "на охране", Normal)}},
           {40, 77, "Неизвестный тип (77)", 0, {}}}};
}

TEST(SiteRecord, ReadsBackWhatItWrote) {
  const SiteRecord record = visit();
  EXPECT_EQ(ParseRecord(RecordJson(record)), record);
  EXPECT_EQ(ParseRecord(RecordJson(SiteRecord{})), SiteRecord{});
}

TEST(SiteRecord, AFileThatIsNoRecordIsNamedWithItsFault) {
  const std::string head =
      R"({"site": "", "time": "", "port": "", "program": {"name": "loopctl", "version": "1"}, )";
  const std::string loop = R"({"loop": 1, "adc": 100, "kohm": 3.1, "text": null, "state": null})";
  const auto device = [&](const std::string& fields, const std::string& loops) {
    return head + R"("devices": [{)" + fields + R"(, "loops": [)" + loops + "]}]}";
  };
  const std::string fine = R"("addr": 5, "type": 1, "name": "Mivra-Q", "version": 1.05)";
  const struct {
    std::string text;
    std::string problem;
  } cases[] = {
      {"",
       "not JSON: line 1, column 1: syntax error while parsing value - unexpected end of input"},
      {"{\"devices\": [1,\n 2,]}", "not JSON: line 2, column 4: syntax error"},
      {R"({"a": "\x"})", "forbidden character after backslash"},
      {R"({"a": "\ud800"})", "surrogate U+D800..U+DBFF must be followed"},
      {R"({"a": 1e999})", "number overflow"},
      {R"({"a": 01})", "line 1, column 8: syntax error"},
      {std::string(100, '[') + std::string(100, ']'), "nested too deeply"},
      {"{} {}", "expected end of input"},
      {R"({"addr": 5, "type": 1, "name": "Mivra-Q", "version": 1.05})", "not a site record"},
      {R"({"program": {"name": "x"}, "devices": []})", "has no \"site\""},
      {R"({"site": "", "time": "", "port": "", "program": {"name": "x"}, "devices": []})",
       "program has no \"version\""},
      {device(R"("addr": 0, "type": 1, "name": "", "version": 1)", ""),
       "a device \"addr\" is not a whole number within 1..127"},
      {device(R"("addr": 5, "type": 1, "name": "", "version": 2.56)", ""),
       "device 5 \"version\" is not within 0..2.55"},
      {device(fine, loop + "," + loop), "device 5 loop 1 twice"},
      {device(fine, R"({"loop": 2, "adc": 256})"), "device 5 loop 2 \"adc\" is not a whole number"},
      {device(fine, R"({"loop": 2, "adc": 1, "kohm": "3.1", "text": null, "state": null})"),
       "device 5 loop 2 \"kohm\" has the wrong kind of value"},
      {device(fine, R"({"loop": 2, "adc": null, "kohm": null, "text": null})"),
       "device 5 loop 2 has no \"state\""},
      {head + R"("devices": [)"
              R"({"addr": 5, "type": 1, "name": "", "version": 1, "loops": []},)"
              R"({"addr": 5, "type": 1, "name": "", "version": 1, "loops": []}]})",
       "device 5 twice"},
  };
  for (const auto& [text, problem] : cases) {
    try {
      ParseRecord(text);
      ADD_FAILURE() << "taken as a record: " << text;
    } catch (const RecordError& error) {
      EXPECT_NE(std::string(error.what()).find(problem), std::string::npos)
          << error.what() << "\nfor: " << text;
    }
  }
}

// A folder of the test's own, on either system.
class TempFolder {
 public:
  TempFolder()
      : path_(std::filesystem::temp_directory_path() /
              ("loopmon-record-" + std::to_string(std::random_device()()))) {
    std::filesystem::create_directories(path_);
  }
  ~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  std::string file(const std::string& name) const { return (path_ / name).string(); }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

TEST(SiteRecord, AFailedSaveLeavesNothingBehind) {
  const TempFolder folder;
  std::filesystem::create_directory(folder.file("taken"));
  EXPECT_THROW(SaveWholeFile(folder.file("taken"), "{}"), RecordError);
  EXPECT_THROW(SaveWholeFile(folder.file("missing/x.json"), "{}"), RecordError);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path()),
                          std::filesystem::directory_iterator()),
            1);
  SaveWholeFile(folder.file("x.json"), RecordJson(visit()));
  EXPECT_EQ(LoadRecord(folder.file("x.json")), visit());
  try {
    LoadRecord(folder.file("taken"));
    ADD_FAILURE() << "a folder read as a record";
  } catch (const RecordError& error) {
    EXPECT_EQ(std::string(error.what()).rfind(folder.file("taken") + ": ", 0), 0u) << error.what();
  }
}

ChangeValue number(const char* text) {
  return {ChangeValue::Kind::Number, text, std::stod(text)};
}
ChangeValue text(const char* text) {
  return {ChangeValue::Kind::Text, text};
}

TEST(CompareRecords, NamesEachChangeOnce) {
  EXPECT_TRUE(CompareRecords(visit(), visit()).empty());
  const auto loopOf = [](SiteRecord& record, int loop) -> LoopRecord& {
    return record.devices[0].loops[static_cast<size_t>(loop) - 1];
  };
  const struct {
    const char* name;
    std::function<void(SiteRecord&)> change;
    double tolerance;
    std::vector<RecordChange> expected;
  } cases[] = {
      {"within the tolerance", [&](SiteRecord& r) { loopOf(r, 1).kohm = 11.0; }, 10, {}},
      {"just beyond it",
       [&](SiteRecord& r) { loopOf(r, 1).kohm = 11.1; },
       10,
       {{5, 1, ChangeKind::Resistance, number("10.0"), number("11.1")}}},
      {"down to it", [&](SiteRecord& r) { loopOf(r, 1).kohm = 9.0; }, 10, {}},
      {"below it",
       [&](SiteRecord& r) { loopOf(r, 1).kohm = 8.9; },
       10,
       {{5, 1, ChangeKind::Resistance, number("10.0"), number("8.9")}}},
      {"no tolerance",
       [&](SiteRecord& r) { loopOf(r, 1).kohm = 10.1; },
       0,
       {{5, 1, ChangeKind::Resistance, number("10.0"), number("10.1")}}},
      {"a negative resistance",
       [&](SiteRecord& r) { loopOf(r, 5).kohm = -0.6; },
       10,
       {{5, 5, ChangeKind::Resistance, number("-0.5"), number("-0.6")}}},
      {"became open",
       [&](SiteRecord& r) { loopOf(r, 1) = showing(1, 0, "Обрыв", "на охране", Open); },
       10,
       {{5, 1, ChangeKind::Open, number("10.0"), text("Обрыв")}}},
      {"stopped being open",
       [&](SiteRecord& r) { loopOf(r, 2) = resistance(2, 3.1, "внимание"); },
       10,
       {{5, 2, ChangeKind::Open, text("Обрыв"), number("3.1")}}},
      {"short to open",
       [&](SiteRecord& r) { loopOf(r, 3) = showing(3, 0, "Обрыв", "тревога", Open, Alarm); },
       10,
       {{5, 3, ChangeKind::Open, text("КЗ"), text("Обрыв")}}},
      {"answers again",
       [&](SiteRecord& r) { loopOf(r, 4) = showing(4, 0, "Обрыв", "false", Open, Unanswered); },
       10,
       {{5, 4, ChangeKind::Open, text("false"), text("Обрыв")}}},
      {"falls silent",
       [&](SiteRecord& r) { loopOf(r, 3) = showing(3, {}, "false", "тревога", Unanswered, Alarm); },
       10,
       {{5, 3, ChangeKind::Unanswered, text("КЗ"), text("false")}}},
      {"a line device's text",
       [&](SiteRecord& r) {
         r.devices[1].loops[0].text = "Пожар обрыв";
         r.devices[1].loops[0].condition = Alarm;
       },
       10,
       {{127, 1, ChangeKind::Text, text("Норма"), text("Пожар обрыв")}}},
      {"a state",
       [&](SiteRecord& r) { loopOf(r, 1).state = "тревога"; },
       10,
       {{5, 1, ChangeKind::State, text("на охране"), text("тревога")}}},
      {"a state shown",
       [&](SiteRecord& r) { loopOf(r, 5).state = "отключен"; },
       10,
       {{5, 5, ChangeKind::State, {}, text("отключен")}}},
      {"a loop gone",
       [&](SiteRecord& r) { r.devices[0].loops.pop_back(); },
       10,
       {{5, 5, ChangeKind::Gone, number("-0.5"), {}}}},
      {"a device gone",
       [&](SiteRecord& r) { r.devices.erase(r.devices.begin()); },
       10,
       {{5, std::nullopt, ChangeKind::Gone, text("Mivra-Q"), {}}}},
      {"a device moved",
       [&](SiteRecord& r) { r.devices[2].addr = 41; },
       10,
       {{40, std::nullopt, ChangeKind::Gone, text("Неизвестный тип (77)"), {}},
        {41, std::nullopt, ChangeKind::New, {}, text("Неизвестный тип (77)")}}},
      {"another type",
       [&](SiteRecord& r) { r.devices[0].type = 2; },
       10,
       {{5, std::nullopt, ChangeKind::Type, number("1"), number("2")}}},
      {"another version",
       [&](SiteRecord& r) { r.devices[0].version = 160; },
       10,
       {{5, std::nullopt, ChangeKind::Version, number("1.05"), number("1.60")}}},
  };
  for (const auto& [name, change, tolerance, expected] : cases) {
    SiteRecord later = visit();
    change(later);
    EXPECT_EQ(CompareRecords(visit(), later, tolerance), expected) << name;
  }
}

TEST(CompareRecords, LinesForPeopleAndForScripts) {
  const RecordChange moved{5, 1, ChangeKind::Resistance, number("10.0"), number("12.5")};
  EXPECT_EQ(ChangeLine(moved, ','), "address 5 loop 1: resistance 10,0 -> 12,5 kOhm (+25 %)");
  EXPECT_EQ(ChangeJson(moved), R"({"addr":5,"loop":1,"what":"resistance","old":10.0,"new":12.5})");
  const RecordChange gone{12, std::nullopt, ChangeKind::Gone, text("Mivra-QX"), {}};
  EXPECT_EQ(ChangeJson(gone),
            R"({"addr":12,"loop":null,"what":"gone","old":"Mivra-QX","new":null})");
  EXPECT_EQ(ChangeLine({5, std::nullopt, ChangeKind::Type, number("1"), number("2")}, '.'),
            "address 5: type 1 (Mivra-Q) -> 2 (Mivra-QX)");
}

}  // namespace

void PrintTo(const RecordChange& change, std::ostream* out) {
  *out << ChangeJson(change);
}

}  // namespace loopmon

// The site record without a bus: its file read back as written, whatever its
// texts hold, records of before, the files that are not records, the
// comparison of two records, and the escaping of the texts the lines and the
// page show.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <ostream>
#include <random>
#include <regex>

#include "loops/loop_history.h"
#include "record/compare.h"
#include "record/report.h"
#include "record/site_record.h"
#include "scoped_temp_dir.h"

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

TEST(SiteRecord, ReadsBackWhatItWroteAtFullPrecision) {
  SiteRecord record = visit();
  record.devices[0].loops[0].kohm = 408.0 / 133 - 1;
  record.devices[0].loops[4].kohm = 1e308;
  EXPECT_EQ(ParseRecord(RecordJson(record)), record);
  EXPECT_EQ(ParseRecord(RecordJson(SiteRecord{})), SiteRecord{});
}

// Each text a record keeps, set to one that breaks JSON, HTML and a terminal
// alike when written raw.
using TextSetter = std::function<void(SiteRecord&, const std::string&)>;
const struct {
  const char* name;
  TextSetter set;
} RecordTexts[] = {
    {"site", [](SiteRecord& r, const std::string& t) { r.site = t; }},
    {"time", [](SiteRecord& r, const std::string& t) { r.time = t; }},
    {"port", [](SiteRecord& r, const std::string& t) { r.port = t; }},
    {"program", [](SiteRecord& r, const std::string& t) { r.programName = t; }},
    {"program version", [](SiteRecord& r, const std::string& t) { r.programVersion = t; }},
    {"device name", [](SiteRecord& r, const std::string& t) { r.devices[0].name = t; }},
    {"loop text", [](SiteRecord& r, const std::string& t) { r.devices[0].loops[1].text = t; }},
    {"loop state", [](SiteRecord& r, const std::string& t) { r.devices[0].loops[1].state = t; }},
};
const std::string Hostile = "\"\\</td><b>&amp;\n\r\t\x01\x1b[2J\x7f\u0085ё";

TEST(SiteRecord, EveryTextIsEscapedInTheFileAndThePage) {
  const size_t lines = std::ranges::count(RecordJson(visit()), '\n');
  for (const auto& [name, set] : RecordTexts) {
    SiteRecord record = visit();
    set(record, Hostile);
    const std::string json = RecordJson(record);
    EXPECT_EQ(ParseRecord(json), record) << name;
    EXPECT_EQ(std::ranges::count(json, '\n'), lines) << name;
    EXPECT_FALSE(std::ranges::any_of(json, [](char c) { return c > 0 && c < 0x20 && c != '\n'; }))
        << name;

    // The page of the record, and the page of another one that lists what
    // changed since this one.
    const SiteRecord later = visit();
    const std::vector<RecordChange> changes = CompareRecords(record, later);
    const ReportBaseline baseline{record, changes};
    const std::string page = ReportHtml(record, "", nullptr, 10, '.');
    for (const std::string& html : {page, ReportHtml(later, "", &baseline, 10, '.')}) {
      EXPECT_EQ(html.find("<b>"), std::string::npos) << name;
      EXPECT_EQ(html.find("\"\\"), std::string::npos) << name;
    }
    EXPECT_NE(page.find("&quot;\\&lt;/td&gt;&lt;b&gt;&amp;amp;"), std::string::npos) << name;
  }
  SiteRecord broken = visit();
  broken.devices[0].name = "\xd1\xea\xeb\xe0\xe4";
  EXPECT_THROW(RecordJson(broken), RecordError) << "a text that is not UTF-8";
}

// What the page shows of each device's loops and of the site: the number
// cells of its rows, a run of loops that read alike (and did not change) on
// one row, and the counts at the top.
TEST(Report, FoldsLoopsThatReadAlikeAndSumsTheSiteUp) {
  SiteRecord record = visit();
  std::vector<LoopRecord>& line = record.devices[1].loops;
  for (int loop = 2; loop <= 6; ++loop) {
    line.push_back(showing(loop, std::nullopt, "откл.", "внимание", NotShown, Normal));
  }
  line.push_back(showing(7, 143, "Норма", "на охране", Normal));
  line.push_back(showing(8, 143, "Норма", "на охране", Normal));
  SiteRecord later = record;
  later.devices[1].loops[7].state = "тревога";
  const std::vector<RecordChange> changes = CompareRecords(record, later);
  const ReportBaseline baseline{record, changes};
  const auto cells = [](const std::string& html, const std::string& from, const std::regex& cell) {
    const size_t start = html.find(from);
    const std::string part = html.substr(start, html.find("</table>", start) - start);
    std::vector<std::string> found;
    for (std::sregex_iterator at(part.begin(), part.end(), cell), end; at != end; ++at) {
      found.push_back((*at)[1]);
    }
    return found;
  };
  const std::regex number("<td class=\"n\">([^<]*)</td>");
  const std::regex count("<td[^>]*>([0-9]*)</td>");
  const struct {
    std::string html;
    std::vector<std::string> rows;
    std::vector<std::string> summary;
  } pages[] = {
      {ReportHtml(record, "", nullptr, 10, ','),
       {"1", "2–6", "7–8"},
       {"3", "13", "1", "1", "1", "1"}},
      {ReportHtml(later, "", &baseline, 10, ','),
       {"1", "2–6", "7", "8"},
       {"3", "13", "1", "1", "1", "1", "1"}},
  };
  for (const auto& page : pages) {
    EXPECT_EQ(cells(page.html, "id=\"a127\"", number), page.rows);
    EXPECT_EQ(cells(page.html, "class=\"summary\"", count), page.summary);
    EXPECT_NE(page.html.find("<th>Время</th><td>" + LocalTimeText(record.time) + "</td>"),
              std::string::npos);
  }
}

// A record's time shown in the local time of whoever reads it; a time that is
// none is shown as it stands.
TEST(SiteRecord, TimesAreShownInLocalTime) {
  const WallTime moment{std::chrono::milliseconds(1'796'678'131'185)};
  const std::string local = IsoTime(moment);
  const std::string shown = local.substr(8, 2) + "." + local.substr(5, 2) + "." +
                            local.substr(0, 4) + " " + local.substr(11, 8);
  for (const std::string& iso :
       {local, std::string("2026-12-07T21:15:31.185+00:00"), std::string("2026-12-07T21:15:31Z"),
        std::string("2026-12-08T02:45:31.5+05:30"), std::string("2026-12-07T16:15:31-05:00")}) {
    EXPECT_EQ(LocalTimeText(iso), shown) << iso;
  }
  for (const char* none : {"", "yesterday", "2026-12-07T21:15:31", "2026-13-07T21:15:31Z",
                           "2026-12-07T21:15:31+0300", "2026-12-07 21:15:31Z"}) {
    EXPECT_EQ(LocalTimeText(none), none);
  }
}

// A record as loopctl wrote it before the conditions were kept: resistances
// to a tenth, the conditions only in the texts.
TEST(SiteRecord, RecordsOfBeforeStillRead) {
  const auto loop = [](const std::string& fields) {
    return ParseRecord(
               R"({"site": "", "time": "", "port": "COM1", "program": {"name": "loopctl", )"
               R"("version": "0.1"}, "devices": [{"addr": 5, "type": 1, "name": "Mivra-Q", )"
               R"("version": 1.05, "loops": [{"loop": 1, )" +
               fields + "}]}]}")
        .devices.at(0)
        .loops.at(0);
  };
  const struct {
    const char* fields;
    LoopCondition condition, stateCondition;
  } cases[] = {
      {R"("adc": 100, "kohm": 3.1, "text": null, "state": "на охране")", Normal, Normal},
      {R"("adc": 0, "kohm": null, "text": "Обрыв", "state": "тревога")", Open, Alarm},
      {R"("adc": 255, "kohm": null, "text": "КЗ", "state": "п. тревога")", Short, Alarm},
      {R"("adc": null, "kohm": null, "text": "false", "state": "false")", Unanswered, Unanswered},
      {R"("adc": null, "kohm": null, "text": "?", "state": null)", NotShown, NotShown},
      {R"("adc": 143, "kohm": null, "text": "Пожар обрыв", "state": null)", Alarm, NotShown},
      {R"("adc": 1, "kohm": null, "text": "откл.", "state": null)", NotShown, NotShown},
  };
  for (const auto& [fields, condition, stateCondition] : cases) {
    const LoopRecord read = loop(fields);
    EXPECT_EQ(std::pair(read.condition, read.stateCondition), std::pair(condition, stateCondition))
        << fields;
  }
  EXPECT_EQ(loop(R"("adc": 100, "kohm": 3.1, "text": null, "state": null, )"
                 R"("condition": "short", "state_condition": null)")
                .condition,
            Short);
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
      {"{\"a\": \"\xd1\xea\"}", "ill-formed UTF-8 byte"},
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
      {device(fine, R"({"loop": 2, "adc": null, "kohm": null, "text": null, "state": null, )"
                    R"("condition": "Обрыв", "state_condition": null})"),
       "device 5 loop 2 \"condition\" is no condition"},
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

TEST(SiteRecord, AFailedSaveLeavesNothingBehind) {
  const testing::ScopedTempDir folder;
  std::filesystem::create_directory(folder.file("taken"));
  EXPECT_THROW(SaveWholeFile(folder.file("taken"), "{}"), RecordError);
  EXPECT_THROW(SaveWholeFile(folder.file("missing/x.json"), "{}"), RecordError);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path()),
                          std::filesystem::directory_iterator()),
            1);
  // A record is a small file: a huge one is refused before it is read.
  std::ofstream(folder.file("huge.json")) << "{";
  std::filesystem::resize_file(folder.file("huge.json"), 17 << 20);
  try {
    LoadRecord(folder.file("huge.json"));
    ADD_FAILURE() << "a huge file read";
  } catch (const RecordError& error) {
    EXPECT_NE(std::string(error.what()).find("larger than 16 MB"), std::string::npos)
        << error.what();
  }
  std::filesystem::remove(folder.file("huge.json"));
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
      {"beyond the tolerance",
       [&](SiteRecord& r) { loopOf(r, 1).kohm = 11.1; },
       10,
       {{5, 1, ChangeKind::Resistance, number("10.0"), number("11.1")}}},
      {"on the device's last loop",
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

// The earlier resistance, the later one, the tolerance, and whether it moved.
TEST(CompareRecords, AResistanceMovesOnlyBeyondTheTolerance) {
  const struct {
    double before, after, tolerance;
    bool moved;
  } cases[] = {
      {10.0, 11.0, 10, false},     {10.0, 9.0, 10, false},        {10.0, 11.1, 10, true},
      {10.0, 8.9, 10, true},       {3.1, 3.41, 10, false},        {3.1, 3.42, 10, true},
      {2.5, 2.75, 10, false},      {10.0, 10.1, 0, true},         {10.0, 10.0, 0, false},
      {0.0, 0.0, 10, false},       {0.0, 0.1, 10, true},          {-0.5, -0.55, 10, false},
      {1e308, 3.0, 10, true},      {3.0, 1e308, 10, true},        {-1e308, 1e308, 10, true},
      {1e308, 1e308, 1000, false}, {1e308, 1.1e307, 1000, false},
  };
  for (const auto& [before, after, tolerance, moved] : cases) {
    SiteRecord earlier = visit();
    SiteRecord later = visit();
    earlier.devices[0].loops[0].kohm = before;
    later.devices[0].loops[0].kohm = after;
    EXPECT_EQ(CompareRecords(earlier, later, tolerance).size(), moved ? 1u : 0u)
        << before << " -> " << after << " at " << tolerance << " %";
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
  EXPECT_EQ(ChangeJson({5, std::nullopt, ChangeKind::Version, number("1.05"), number("1.60")}),
            R"({"addr":5,"loop":null,"what":"version","old":1.05,"new":1.60})");

  // A record's texts reach the terminal with their control characters
  // escaped: no escape sequence, and no line break that forges a line.
  const struct {
    RecordChange change;
    const char* line;
  } escaped[] = {
      {{7, std::nullopt, ChangeKind::New, {}, text("X\naddress 7: gone (Y)")},
       R"(address 7: new (X\naddress 7: gone (Y)))"},
      {{7, 2, ChangeKind::Text, text("\x1b]0;t\x07\x1b[2J"), text("a\"b\\c\r\t\x7f\u009b")},
       R"(address 7 loop 2: text "\u001b]0;t\u0007\u001b[2J" -> "a\"b\\c\r\t\u007f\u009b")"},
      {{7, 2, ChangeKind::State, text("на охране"), {}},
       R"(address 7 loop 2: state "на охране" -> none)"},
  };
  for (const auto& [change, line] : escaped) EXPECT_EQ(ChangeLine(change, '.'), line);
  // A table's cell is not quoted: its quotes stay, what would break the table is escaped.
  EXPECT_EQ(TableText("Склад \"Север\"\tкорп. 2\\3\n\x1b[2J"),
            R"(Склад "Север"\tкорп. 2\\3\n\u001b[2J)");
}

}  // namespace

void PrintTo(const RecordChange& change, std::ostream* out) {
  *out << ChangeJson(change);
}

}  // namespace loopmon

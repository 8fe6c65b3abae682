// Every window's form description: each control inside its window, none over
// another, at 96 DPI and at 192 DPI as placed, in a window as designed and in
// one that has grown; Tab visits the controls in their designed order; every
// text a window shows comes with it.

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "desktop/calibration_form.h"
#include "desktop/history_form.h"
#include "desktop/main_form.h"
#include "desktop/password_form.h"
#include "desktop/search_form.h"
#include "desktop/site_history_form.h"
#include "desktop/survey_form.h"
#include "desktop/traffic_form.h"

namespace loopmon {
namespace {

const WindowForm* const Forms[] = {
    &main_form::Form,    &search_form::Form,  &password_form::Form, &calibration_form::Form,
    &history_form::Form, &traffic_form::Form, &survey_form::Form,   &site_history_form::Form};

bool overlap(const Rect& a, const Rect& b) {
  return a.left < b.right() && b.left < a.right() && a.top < b.bottom() && b.top < a.bottom();
}

TEST(Forms, EveryControlLiesInsideItsWindowAndClearOfTheOthers) {
  for (const WindowForm* form : Forms) {
    for (int dpi : {96, 192}) {
      for (Size extra : {Size{}, Size{scaled(40, dpi), scaled(30, dpi)}}) {
        SCOPED_TRACE(std::string(form->name) + " at " + std::to_string(dpi) + " DPI, " +
                     std::to_string(extra.width) + " wider");
        const Size client = clientSize(*form, dpi, extra);
        for (const ControlForm& control : form->controls) {
          const Rect placed = placeControl(control, dpi, extra);
          EXPECT_TRUE(placed.left >= 0 && placed.top >= 0 && placed.right() <= client.width &&
                      placed.bottom() <= client.height)
              << control.name;
          for (const ControlForm& other : form->controls) {
            if (&other != &control) {
              EXPECT_FALSE(overlap(placed, placeControl(other, dpi, extra)))
                  << control.name << " over " << other.name;
            }
          }
        }
      }
    }
  }
}

TEST(Forms, TabVisitsTheControlsInTheirDesignedOrder) {
  const struct {
    const WindowForm* form;
    std::vector<std::string> order;
  } cases[] = {
      {&main_form::Form,
       {"searchButton", "loopTable", "readButton", "toolsButton", "periodicButton", "periodField"}},
      {&search_form::Form,
       {"chooseButton", "searchButton", "cancelButton", "portSelector", "deviceList",
        "quickOption"}},
      {&password_form::Form, {"codeField", "okButton"}},
      {&calibration_form::Form,
       {"r1Field", "acp1Field", "r2Field", "acp2Field", "enterButton", "cancelButton",
        "typeSelector", "versionField"}},
      {&history_form::Form, {"saveButton"}},
      {&survey_form::Form,
       {"siteField", "surveyButton", "saveButton", "compareButton", "siteHistoryButton",
        "devicesList", "changesList"}},
      {&site_history_form::Form, {"loopsList", "skippedList"}},
  };
  for (const auto& c : cases) {
    std::vector<const ControlForm*> stops;
    for (const ControlForm& control : c.form->controls) {
      if (control.tabOrder > 0) stops.push_back(&control);
    }
    std::ranges::sort(stops, {}, &ControlForm::tabOrder);
    std::vector<std::string> order;
    for (size_t n = 0; n < stops.size(); ++n) {
      EXPECT_EQ(stops[n]->tabOrder, static_cast<int>(n) + 1) << c.form->name;
      order.emplace_back(stops[n]->name);
    }
    EXPECT_EQ(order, c.order) << c.form->name;
  }
}

TEST(Forms, ControlsAreNamedOnceAndTextsCarryTheirSubscripts) {
  for (const WindowForm* form : Forms) {
    std::set<std::string> names;
    std::set<int> ids;
    for (const ControlForm& control : form->controls) {
      EXPECT_TRUE(names.insert(control.name).second) << form->name << " " << control.name;
      EXPECT_TRUE(ids.insert(control.id).second) << form->name << " " << control.name;
      EXPECT_GT(control.id, 2) << "clear of the dialog manager's OK and Cancel";
    }
  }
  EXPECT_EQ(plainText("(R_1 < R_2)"), "(R1 < R2)");
  const std::vector<TextRun> runs = textRuns("R_1 кОм");
  ASSERT_EQ(runs.size(), 3u);
  EXPECT_TRUE(runs[1].subscript);
  EXPECT_EQ(runs[1].text, "1");
  EXPECT_EQ(runs[2].text, " кОм");
}

// The history, traffic and survey windows open beside the main window, on its
// screen, never over it while the screen has room.
TEST(Forms, WindowsOpenBesideTheMainWindowWithinTheScreen) {
  const Rect screen{0, 0, 1920, 1040};
  const Size window{600, 400};
  struct Case {
    const char* what;
    Rect anchor;
    Rect expected;
  };
  const Case cases[] = {
      {"room on the right", {800, 300, 330, 470}, {1130, 300, 600, 400}},
      {"exactly room on the right", {0, 0, 1320, 470}, {1320, 0, 600, 400}},
      {"room on the left only", {1400, 100, 330, 470}, {800, 100, 600, 400}},
      {"no room either side, more on the right", {100, 100, 1300, 470}, {1320, 100, 600, 400}},
      {"no room either side, more on the left", {500, 100, 1300, 470}, {0, 100, 600, 400}},
      {"low on the screen", {100, 900, 330, 470}, {430, 640, 600, 400}},
      {"above the screen's top", {100, -50, 330, 470}, {430, 0, 600, 400}},
      {"a screen to the right of another", {2000, 10, 330, 470}, {2330, 10, 600, 400}},
  };
  for (const Case& c : cases) {
    const Rect area = c.anchor.left >= screen.right() ? Rect{1920, 0, 1280, 1000} : screen;
    EXPECT_EQ(placedBeside(c.anchor, window, area), c.expected) << c.what;
  }
  EXPECT_EQ(placedBeside({0, 0, 300, 400}, {800, 1200}, {0, 0, 1024, 700}),
            (Rect{224, 0, 800, 1200}))
      << "a window larger than the screen keeps its top-left corner on it";
}

}  // namespace
}  // namespace loopmon

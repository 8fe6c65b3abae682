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
#include "desktop/traffic_form.h"

namespace loopmon {
namespace {

const WindowForm* const Forms[] = {&main_form::Form,     &search_form::Form,
                                   &password_form::Form, &calibration_form::Form,
                                   &history_form::Form,  &traffic_form::Form};

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
       {"chooseButton", "searchButton", "cancelButton", "portSelector", "deviceList"}},
      {&password_form::Form, {"codeField", "okButton"}},
      {&calibration_form::Form,
       {"r1Field", "acp1Field", "r2Field", "acp2Field", "enterButton", "cancelButton",
        "typeSelector", "versionField"}},
      {&history_form::Form, {"saveButton"}},
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

}  // namespace
}  // namespace loopmon

// The password and calibration dialogs driven with window messages: keys and
// clicks reaching the models, the boxes they show, the coefficients file
// they write or leave alone, and a real error box over the calibration.

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "gui/win32/calibration_dialog.h"
#include "gui/win32/password_dialog.h"
#include "window_driver.h"

namespace loopmon::win32 {
namespace {

using namespace loopmon::win32::testing;
using namespace calibration_form;

// The entry fields in the order of a case's texts.
constexpr int Fields[] = {VersionField, R1Field, Acp1Field, R2Field, Acp2Field};

class DialogsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    owner_ = CreateWindowExW(0, L"STATIC", L"owner", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 300,
                             200, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    store_ = std::make_unique<CoefficientsStore>(folder_.file("ohmgauge.kft"), ',');
    calibration_ = std::make_unique<CalibrationDialog>(
        owner_, [this] { return device_; }, *store_, ',');
  }
  void TearDown() override {
    calibration_.reset();
    DestroyWindow(owner_);
  }

  std::string coefficientsFile() const {
    std::stringstream text;
    text << std::ifstream(folder_.file("ohmgauge.kft"), std::ios::binary).rdbuf();
    return text.str();
  }
  void writeCoefficients(const std::string& text) const {
    std::ofstream(folder_.file("ohmgauge.kft"), std::ios::binary) << text;
  }
  HWND control(int id) { return calibration_->control(id); }
  // The type and the fields as "type|version|r1|acp1|r2|acp2".
  std::string shown() {
    std::string texts =
        std::to_string(SendMessageW(control(TypeSelector), CB_GETCURSEL, 0, 0)) + "|";
    for (int id : Fields) texts += windowText(control(id)) + "|";
    texts.pop_back();
    return texts;
  }
  void enter(int type, const std::string& texts) {
    SendMessageW(control(TypeSelector), CB_SETCURSEL, static_cast<WPARAM>(type), 0);
    std::stringstream parts(texts);
    std::string part;
    for (int id : Fields) {
      std::getline(parts, part, '|');
      setWindowText(control(id), part);
    }
  }
  void showCalibration() {
    calibration_->show(owner_);
    pumpFor(20);
  }
  bool calibrationVisible() { return IsWindowVisible(calibration_->hwnd()); }

  TempFolder folder_;
  HWND owner_ = nullptr;
  SelectedDevice device_;
  std::unique_ptr<CoefficientsStore> store_;
  std::unique_ptr<CalibrationDialog> calibration_;
};

TEST_F(DialogsTest, PasswordDialogOpensTheCalibrationOnlyForTheExactCode) {
  enum How { Clicked, Enter, Escape, CloseBox };
  const struct {
    const char* code;
    How how;
    bool opens;
  } cases[] = {
      {"48205917", Clicked, true}, {"4820591", Clicked, false},   {"48205917", Enter, true},
      {"48205917", Escape, false}, {"48205917", CloseBox, false},
  };
  // One dialog for all: each opening must start with an empty field.
  PasswordDialog password(owner_, *calibration_);
  BoxCapture boxes;
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.code) + " " + std::to_string(c.how));
    ShowWindow(calibration_->hwnd(), SW_HIDE);
    bool ownerDisabled = false;
    bool masked = false;
    std::string atStart = "unset";
    runSoon([&] {
      HWND field = password.control(password_form::CodeField);
      ownerDisabled = !enabled(owner_);
      masked = SendMessageW(field, EM_GETPASSWORDCHAR, 0, 0) == L'#';
      atStart = windowText(field);
      typeChars(field, widen(c.code));
      if (c.how == Clicked) click(password.control(password_form::OkButton));
      if (c.how == Enter) press(field, VK_RETURN);
      if (c.how == Escape) press(field, VK_ESCAPE);
      if (c.how == CloseBox) SendMessageW(password.hwnd(), WM_SYSCOMMAND, SC_CLOSE, 0);
    });
    password.run(owner_);
    EXPECT_TRUE(ownerDisabled && masked);
    EXPECT_EQ(atStart, "");
    EXPECT_FALSE(IsWindowVisible(password.hwnd()));
    EXPECT_TRUE(enabled(owner_));
    EXPECT_EQ(calibrationVisible(), c.opens);
  }
  EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(DialogsTest, CalibrationRefillsOnActivationAndFixesATrailingPoint) {
  writeCoefficients("[1-160]\r\nACP1=200\r\nACP2=50\r\nR1=1,5\r\nR2=10\r\n");
  const struct {
    SelectedDevice device;
    const char* shown;
  } cases[] = {{{5, 1, 160}, "0|1,60|1,5|200|10|50"}, {{5, 2, 100}, "-1|||||"}};
  for (const auto& c : cases) {
    device_ = c.device;
    showCalibration();
    // Typed but not stored: gone once the dialog is left and activated again.
    enter(3, "9|9|9|9|9");
    SetActiveWindow(owner_);
    pumpFor(20);
    SetActiveWindow(calibration_->hwnd());
    pumpFor(20);
    EXPECT_EQ(shown(), c.shown);
  }
  // A point typed last becomes the comma, typing goes on behind it; the ADC
  // fields take their text as it is.
  for (const auto& [id, after] : {std::pair(R1Field, "3,"), std::pair(Acp1Field, "3.")}) {
    setWindowText(control(id), "");
    typeChars(control(id), L"3.");
    EXPECT_EQ(windowText(control(id)), after);
    DWORD end = 0;
    SendMessageW(control(id), EM_GETSEL, 0, reinterpret_cast<LPARAM>(&end));
    EXPECT_EQ(end, 2u);
  }
}

TEST_F(DialogsTest, EnterStoresOrShowsEachFailedCheckInItsOwnBox) {
  const std::string before = "[2-100]\r\nR1=1\r\n";
  const struct {
    const char* name;
    int type;
    const char* fields;
    UINT key;  // 0: a click on "Ввод"
    std::vector<std::string> boxes;
    bool staysOpen;
    bool stored;
  } cases[] = {
      {"nothing chosen",
       -1,
       "|1|200|10|50",
       0,
       {"Error: Введенный тип прибора неподдерживается", "Error: Не введена версия прибора"},
       false,
       false},
      {"no number",
       3,
       "1,05|1.5|200|10|50",
       0,
       {"Шлейфы MIVRA-QX: '1.5' is not a valid floating point value"},
       true,
       false},
      {"Esc", 3, "1,05|1|200|10|50", VK_ESCAPE, {}, false, false},
      {"Enter", 3, "1,05|1|200|10|50", VK_RETURN, {}, false, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    writeCoefficients(before);
    BoxCapture boxes;
    showCalibration();
    enter(c.type, c.fields);
    if (c.key == 0) {
      click(control(EnterButton));
    } else {
      press(control(Acp2Field), c.key);
    }
    EXPECT_EQ(boxes.boxes, c.boxes);
    EXPECT_EQ(calibrationVisible(), c.staysOpen);
    EXPECT_EQ(coefficientsFile() != before, c.stored);
    if (c.stored) {
      EXPECT_EQ(store_->LoadPoints(11, 105)->ACP1, "200");
    }
    ShowWindow(calibration_->hwnd(), SW_HIDE);
  }
}

// A real error box over the dialog: when it closes the dialog becomes active
// again, which must not refill the fields the user is correcting.
TEST_F(DialogsTest, EntriesStayAfterTheErrorBoxCloses) {
  writeCoefficients("[1-160]\r\nACP1=200\r\nACP2=50\r\nR1=1\r\nR2=10\r\n");
  device_ = {5, 1, 160};
  showCalibration();
  setWindowText(control(R1Field), "x1");
  const UINT_PTR closer = SetTimer(nullptr, 0, 10, [](HWND, UINT, UINT_PTR id, DWORD) {
    HWND box = FindWindowW(L"#32770", L"Шлейфы MIVRA-QX");
    if (!box) return;
    KillTimer(nullptr, id);
    PostMessageW(box, WM_COMMAND, IDOK, 0);
  });
  click(control(EnterButton));
  KillTimer(nullptr, closer);
  EXPECT_TRUE(calibrationVisible());
  EXPECT_EQ(windowText(control(R1Field)), "x1");
}

}  // namespace
}  // namespace loopmon::win32

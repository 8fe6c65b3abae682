// The password and calibration dialogs driven with window messages: codes
// typed and pasted, keys, clicks, the boxes they show and the coefficients
// file they write or leave alone.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "gui/win32/calibration_dialog.h"
#include "gui/win32/message_box.h"
#include "gui/win32/password_dialog.h"

namespace loopmon::win32 {
namespace {

std::string windowString(HWND window) {
  wchar_t text[256] = {};
  GetWindowTextW(window, text, 256);
  return narrow(text);
}

void typeText(HWND field, const std::string& text) {
  for (wchar_t c : widen(text)) SendMessageW(field, WM_CHAR, c, 1);
}

// Takes the thread's messages until none is left, the modeless dialog's keys included.
void pumpMessages() {
  MSG message;
  for (int i = 0; i < 1000 && PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE); ++i) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

// Runs `act` on a dialog of a modal loop once it shows, from a timer of that
// loop; a dialog still open 3 s later is closed, so no test can hang.
class ModalDriver {
 public:
  ModalDriver(std::function<HWND()> dialog, std::function<void(HWND)> act)
      : dialog_(std::move(dialog)), act_(std::move(act)) {
    current() = this;
    timer_ = SetTimer(nullptr, 0, 10, &ModalDriver::onTick);
  }
  ~ModalDriver() {
    KillTimer(nullptr, timer_);
    current() = nullptr;
  }
  bool acted() const { return acted_; }
  bool timedOut() const { return timedOut_; }

 private:
  static ModalDriver*& current() {
    static ModalDriver* driver = nullptr;
    return driver;
  }
  static void CALLBACK onTick(HWND, UINT, UINT_PTR, DWORD) {
    ModalDriver* self = current();
    if (!self) return;
    HWND dialog = self->dialog_();
    if (!dialog) return;
    if (!self->acted_) {
      self->acted_ = true;
      self->act_(dialog);
    } else if (++self->ticksAfter_ > 300) {
      self->timedOut_ = true;
      EndDialog(dialog, IDCANCEL);
    }
  }

  std::function<HWND()> dialog_;
  std::function<void(HWND)> act_;
  UINT_PTR timer_ = 0;
  bool acted_ = false;
  bool timedOut_ = false;
  int ticksAfter_ = 0;
};

struct Box {
  std::string text;
  std::string caption;
  UINT icon;
};

class DialogsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    folder_ =
        std::filesystem::path(temp) / ("loopmon-dialogs-" + std::to_string(GetCurrentProcessId()) +
                                       "-" + std::to_string(GetTickCount()));
    std::filesystem::create_directories(folder_);
    owner_ = CreateWindowExW(0, L"STATIC", L"owner", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 300,
                             200, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    previousHook_ =
        setMessageBoxHook([this](const std::string& text, const std::string& caption, UINT icon) {
          boxes_.push_back({text, caption, icon});
        });
  }
  void TearDown() override {
    setMessageBoxHook(previousHook_);
    calibration_.reset();
    DestroyWindow(owner_);
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }

  std::string coefficientsPath() const { return (folder_ / "ohmgauge.kft").string(); }
  std::string coefficientsFile() const {
    std::stringstream text;
    text << std::ifstream(coefficientsPath(), std::ios::binary).rdbuf();
    return text.str();
  }
  void writeCoefficients(const std::string& text) const {
    std::ofstream(coefficientsPath(), std::ios::binary) << text;
  }

  CalibrationDialog& calibration() {
    if (!calibration_) {
      store_ = std::make_unique<CoefficientsStore>(coefficientsPath(), ',');
      calibration_ = std::make_unique<CalibrationDialog>([this] { return device_; }, *store_, ',');
    }
    return *calibration_;
  }
  HWND calibrationControl(int id) { return GetDlgItem(calibration().window(), id); }
  std::string calibrationText(int id) { return windowString(calibrationControl(id)); }
  // Shows the dialog and lets it take its activation.
  void showCalibration() {
    calibration().show(owner_);
    pumpMessages();
  }
  // The dialog left for the main window and activated again.
  void reactivateCalibration() {
    SetActiveWindow(owner_);
    pumpMessages();
    SetActiveWindow(calibration().window());
    pumpMessages();
  }
  bool calibrationVisible() { return IsWindowVisible(calibration().window()); }

  std::filesystem::path folder_;
  HWND owner_ = nullptr;
  SelectedDevice device_;
  std::unique_ptr<CoefficientsStore> store_;
  std::unique_ptr<CalibrationDialog> calibration_;
  std::vector<Box> boxes_;
  MessageBoxHook previousHook_;
};

TEST_F(DialogsTest, PasswordDialogOpensTheCalibrationOnlyForTheExactCode) {
  struct Case {
    const char* name;
    std::function<void(HWND dialog, HWND field)> enter;
    bool opens;
  };
  const auto typed = [](const char* code) {
    return [code](HWND, HWND field) {
      typeText(field, code);
      SendMessageW(GetDlgItem(GetParent(field), IDOK), BM_CLICK, 0, 0);
    };
  };
  const Case cases[] = {
      {"typed", typed("48205917"), true},
      {"short", typed("4820591"), false},
      {"longer", typed("482059170"), false},
      {"blank before", typed(" 48205917"), false},
      {"empty", typed(""), false},
      {"pasted, Enter",
       [](HWND, HWND field) {
         SendMessageW(field, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"48205917"));
         PostMessageW(field, WM_KEYDOWN, VK_RETURN, 0);
       },
       true},
      {"right code, Esc",
       [](HWND, HWND field) {
         typeText(field, "48205917");
         PostMessageW(field, WM_KEYDOWN, VK_ESCAPE, 0);
       },
       false},
      {"right code, close box",
       [](HWND dialog, HWND field) {
         typeText(field, "48205917");
         PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
       },
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    calibration_.reset();
    PasswordDialog password(calibration());
    bool ownerDisabled = false;
    bool masked = false;
    bool emptyAtStart = false;
    ModalDriver driver([&] { return password.window(); },
                       [&](HWND dialog) {
                         HWND field = GetDlgItem(dialog, PasswordCodeFieldId);
                         ownerDisabled = !IsWindowEnabled(owner_);
                         masked = SendMessageW(field, EM_GETPASSWORDCHAR, 0, 0) == L'#';
                         emptyAtStart = windowString(field).empty();
                         c.enter(dialog, field);
                       });
    password.run(owner_);
    EXPECT_TRUE(driver.acted());
    EXPECT_FALSE(driver.timedOut());
    EXPECT_TRUE(ownerDisabled);
    EXPECT_TRUE(masked);
    EXPECT_TRUE(emptyAtStart);
    EXPECT_EQ(password.window(), nullptr);
    EXPECT_TRUE(IsWindowEnabled(owner_));
    const bool shown = calibration().window() && calibrationVisible();
    EXPECT_EQ(shown, c.opens);
    EXPECT_TRUE(boxes_.empty());
  }
}

TEST_F(DialogsTest, PasswordFieldIsEmptyOnTheNextOpening) {
  PasswordDialog password(calibration());
  for (int opening = 0; opening < 2; ++opening) {
    std::string atStart = "unset";
    ModalDriver driver([&] { return password.window(); },
                       [&](HWND dialog) {
                         HWND field = GetDlgItem(dialog, PasswordCodeFieldId);
                         atStart = windowString(field);
                         typeText(field, "1234");
                         SendMessageW(GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0);
                       });
    password.run(owner_);
    EXPECT_EQ(atStart, "");
  }
}

TEST_F(DialogsTest, ActivationFillsTheFieldsFromTheSelectedDevicesSection) {
  writeCoefficients(
      "[1-160]\r\nACP1=200\r\nACP2=50\r\nR1=1,5\r\nR2=10\r\na=1\r\nb=1\r\n"
      "[9-100]\r\nR1=2\r\n");
  struct Case {
    const char* name;
    SelectedDevice device;
    int typeBefore;
    int type;
    const char* version;
    const char* r1;
    const char* acp1;
    const char* r2;
    const char* acp2;
  };
  const Case cases[] = {
      {"stored section", {5, 1, 160}, 3, 0, "1,60", "1,5", "200", "10", "50"},
      {"no section", {5, 2, 100}, 1, -1, "", "", "", "", ""},
      {"no device", {0, 0, 0}, 2, -1, "", "", "", "", ""},
      // A type the list does not have keeps the entry shown before.
      {"type not in the list", {7, 9, 100}, 2, 2, "1,00", "2", "", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    device_ = c.device;
    showCalibration();
    SendMessageW(calibrationControl(CalibrationTypeSelectorId), CB_SETCURSEL, c.typeBefore, 0);
    typeText(calibrationControl(CalibrationAcp2FieldId), "77");
    reactivateCalibration();
    EXPECT_EQ(SendMessageW(calibrationControl(CalibrationTypeSelectorId), CB_GETCURSEL, 0, 0),
              c.type);
    EXPECT_EQ(calibrationText(CalibrationVersionFieldId), c.version);
    EXPECT_EQ(calibrationText(CalibrationR1FieldId), c.r1);
    EXPECT_EQ(calibrationText(CalibrationAcp1FieldId), c.acp1);
    EXPECT_EQ(calibrationText(CalibrationR2FieldId), c.r2);
    EXPECT_EQ(calibrationText(CalibrationAcp2FieldId), c.acp2);
    SendMessageW(calibrationControl(IDCANCEL), BM_CLICK, 0, 0);
  }
}

TEST_F(DialogsTest, PointTypedLastBecomesTheDecimalComma) {
  struct Case {
    int field;
    const char* typed;
    bool pasted;
    const char* shown;
  };
  const Case cases[] = {
      {CalibrationR1FieldId, "3.", false, "3,"},
      {CalibrationR1FieldId, "3.5", false, "3,5"},
      {CalibrationR2FieldId, "12.25", false, "12,25"},
      {CalibrationVersionFieldId, "1.05", false, "1,05"},
      {CalibrationR1FieldId, "3.55", true, "3.55"},
      {CalibrationR2FieldId, "7.", true, "7,"},
      // The ADC fields take their text as it is.
      {CalibrationAcp1FieldId, "3.", false, "3."},
      {CalibrationAcp2FieldId, "3.", false, "3."},
  };
  showCalibration();
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.typed) + (c.pasted ? " pasted" : " typed"));
    HWND field = calibrationControl(c.field);
    SetWindowTextW(field, L"");
    if (c.pasted) {
      SetWindowTextW(field, widen(c.typed).c_str());
    } else {
      typeText(field, c.typed);
    }
    EXPECT_EQ(windowString(field), c.shown);
    DWORD start = 0;
    DWORD end = 0;
    SendMessageW(field, EM_GETSEL, reinterpret_cast<WPARAM>(&start),
                 reinterpret_cast<LPARAM>(&end));
    if (!c.pasted) {
      EXPECT_EQ(end, std::string(c.shown).size());
    }
  }
}

TEST_F(DialogsTest, EnterStoresOrShowsEachFailedCheckInItsOwnBox) {
  writeCoefficients("[2-100]\r\nR1=1\r\n");
  const std::string before = coefficientsFile();
  struct Case {
    const char* name;
    SelectedDevice device;
    int type;
    const char* version;
    const char* r1;
    const char* acp1;
    const char* r2;
    const char* acp2;
    std::vector<std::string> boxes;
    bool staysOpen;
    // The type code and version byte of the section written, if any.
    std::optional<std::pair<int, int>> stored;
  };
  const Case cases[] = {
      {"nothing chosen",
       {0, 0, 0},
       -1,
       "",
       "1",
       "200",
       "10",
       "50",
       {"Введенный тип прибора неподдерживается", "Не введена версия прибора"},
       false,
       std::nullopt},
      {"no version",
       {0, 0, 0},
       1,
       "",
       "1",
       "200",
       "10",
       "50",
       {"Не введена версия прибора"},
       false,
       std::nullopt},
      {"no type",
       {0, 0, 0},
       -1,
       "1,05",
       "1",
       "200",
       "10",
       "50",
       {"Введенный тип прибора неподдерживается"},
       false,
       std::nullopt},
      {"not a number",
       {0, 0, 0},
       3,
       "1,05",
       "1.5",
       "200",
       "10",
       "50",
       {"'1.5' is not a valid floating point value"},
       true,
       std::nullopt},
      {"equal readings",
       {0, 0, 0},
       3,
       "1,05",
       "1",
       "100",
       "10",
       "100",
       {"Floating point division by zero"},
       true,
       std::nullopt},
      {"no device selected",
       {0, 0, 0},
       3,
       "1,05",
       "1",
       "200",
       "10",
       "50",
       {},
       false,
       std::pair{11, 105}},
      {"selected device",
       {5, 2, 100},
       0,
       "9,99",
       "1",
       "200",
       "10",
       "50",
       {},
       false,
       std::pair{2, 100}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    writeCoefficients(before);
    boxes_.clear();
    device_ = c.device;
    showCalibration();
    SendMessageW(calibrationControl(CalibrationTypeSelectorId), CB_SETCURSEL, c.type, 0);
    SetWindowTextW(calibrationControl(CalibrationVersionFieldId), widen(c.version).c_str());
    SetWindowTextW(calibrationControl(CalibrationR1FieldId), widen(c.r1).c_str());
    SetWindowTextW(calibrationControl(CalibrationAcp1FieldId), widen(c.acp1).c_str());
    SetWindowTextW(calibrationControl(CalibrationR2FieldId), widen(c.r2).c_str());
    SetWindowTextW(calibrationControl(CalibrationAcp2FieldId), widen(c.acp2).c_str());
    SendMessageW(calibrationControl(IDOK), BM_CLICK, 0, 0);
    pumpMessages();

    std::vector<std::string> texts;
    for (const Box& box : boxes_) {
      texts.push_back(box.text);
      EXPECT_EQ(box.icon, static_cast<UINT>(MB_ICONERROR));
      EXPECT_EQ(box.caption, c.staysOpen ? applicationTitle() : "Error");
    }
    EXPECT_EQ(texts, c.boxes);
    EXPECT_EQ(calibrationVisible(), c.staysOpen);
    if (c.staysOpen) {
      EXPECT_EQ(calibrationText(CalibrationR1FieldId), c.r1);
    }
    if (c.stored) {
      const auto points = store_->LoadPoints(static_cast<uint8_t>(c.stored->first),
                                             static_cast<uint8_t>(c.stored->second));
      ASSERT_TRUE(points);
      EXPECT_EQ(points->ACP1, "200");
      EXPECT_EQ(points->R2, "10");
    } else {
      EXPECT_EQ(coefficientsFile(), before);
    }
    if (c.staysOpen) SendMessageW(calibrationControl(IDCANCEL), BM_CLICK, 0, 0);
  }
}

TEST_F(DialogsTest, KeysOfTheModelessDialog) {
  struct Case {
    const char* name;
    WPARAM key;
    bool stored;
  };
  const Case cases[] = {{"Enter stores", VK_RETURN, true}, {"Esc does not", VK_ESCAPE, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove(coefficientsPath());
    device_ = {0, 0, 0};
    showCalibration();
    SendMessageW(calibrationControl(CalibrationTypeSelectorId), CB_SETCURSEL, 1, 0);
    SetWindowTextW(calibrationControl(CalibrationVersionFieldId), L"1,60");
    for (int id : {CalibrationR1FieldId, CalibrationR2FieldId}) {
      SetWindowTextW(calibrationControl(id), id == CalibrationR1FieldId ? L"1" : L"10");
    }
    SetWindowTextW(calibrationControl(CalibrationAcp1FieldId), L"200");
    SetWindowTextW(calibrationControl(CalibrationAcp2FieldId), L"50");
    PostMessageW(calibrationControl(CalibrationAcp2FieldId), WM_KEYDOWN, c.key, 0);
    pumpMessages();
    EXPECT_FALSE(calibrationVisible());
    EXPECT_EQ(std::filesystem::exists(coefficientsPath()), c.stored);
    EXPECT_TRUE(boxes_.empty());
  }
}

// A real error box over the dialog: when it closes the dialog becomes active
// again, which must not refill the fields the user is correcting.
TEST_F(DialogsTest, EntriesStayAfterTheErrorBoxCloses) {
  writeCoefficients("[1-160]\r\nACP1=200\r\nACP2=50\r\nR1=1\r\nR2=10\r\n");
  device_ = {5, 1, 160};
  showCalibration();
  SetWindowTextW(calibrationControl(CalibrationR1FieldId), L"x1");
  setMessageBoxHook({});
  std::string boxText;
  ModalDriver driver([] { return FindWindowW(L"#32770", widen(applicationTitle()).c_str()); },
                     [&](HWND box) {
                       boxText = windowString(GetDlgItem(box, 0xFFFF));
                       PostMessageW(box, WM_COMMAND, IDOK, 0);
                     });
  SendMessageW(calibrationControl(IDOK), BM_CLICK, 0, 0);
  pumpMessages();
  EXPECT_TRUE(driver.acted());
  EXPECT_EQ(boxText, "'x1' is not a valid floating point value");
  EXPECT_TRUE(calibrationVisible());
  EXPECT_EQ(calibrationText(CalibrationR1FieldId), "x1");
}

}  // namespace
}  // namespace loopmon::win32

// The password and calibration dialogs driven with window messages: codes
// typed and pasted, keys, clicks, the boxes they show and the coefficients
// file they write or leave alone.

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
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

// Runs `loop`, and `act` on the window that `find` finds once it shows, from a
// timer of the modal loop; a window still open 3 s later is ended, so no test
// can hang. True when it acted and the window closed in time.
struct ModalScript {
  std::function<HWND()> find;
  std::function<void(HWND)> act;
  bool acted = false;
  int ticksAfter = 0;
};
ModalScript* script = nullptr;

void CALLBACK onScriptTick(HWND, UINT, UINT_PTR, DWORD) {
  HWND window = script ? script->find() : nullptr;
  if (!window) return;
  if (!script->acted) {
    script->acted = true;
    script->act(window);
  } else if (++script->ticksAfter > 300) {
    EndDialog(window, IDCANCEL);
  }
}

bool runModal(ModalScript modal, const std::function<void()>& loop) {
  script = &modal;
  const UINT_PTR timer = SetTimer(nullptr, 0, 10, &onScriptTick);
  loop();
  KillTimer(nullptr, timer);
  script = nullptr;
  return modal.acted && modal.ticksAfter <= 300;
}

// The entry fields in the order of a case's texts.
constexpr int Fields[] = {CalibrationVersionFieldId, CalibrationR1FieldId, CalibrationAcp1FieldId,
                          CalibrationR2FieldId, CalibrationAcp2FieldId};

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
    store_ = std::make_unique<CoefficientsStore>(coefficientsPath(), ',');
    calibration_ = std::make_unique<CalibrationDialog>([this] { return device_; }, *store_, ',');
    previousHook_ =
        setMessageBoxHook([this](const std::string& text, const std::string& caption, UINT icon) {
          boxes_.push_back(caption + "|" + (icon == MB_ICONERROR ? "error" : "other") + "|" + text);
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

  HWND control(int id) { return GetDlgItem(calibration_->window(), id); }
  int typeShown() {
    return static_cast<int>(SendMessageW(control(CalibrationTypeSelectorId), CB_GETCURSEL, 0, 0));
  }
  // The version and the four fields as "version|r1|acp1|r2|acp2".
  std::string fieldsShown() {
    std::string shown;
    for (int id : Fields) shown += windowString(control(id)) + "|";
    shown.pop_back();
    return shown;
  }
  void enterFields(int type, const std::string& texts) {
    SendMessageW(control(CalibrationTypeSelectorId), CB_SETCURSEL, static_cast<WPARAM>(type), 0);
    std::stringstream parts(texts);
    std::string part;
    for (int id : Fields) {
      std::getline(parts, part, '|');
      SetWindowTextW(control(id), widen(part).c_str());
    }
  }
  void showCalibration() {
    calibration_->show(owner_);
    pumpMessages();
  }
  bool calibrationVisible() { return IsWindowVisible(calibration_->window()); }

  std::filesystem::path folder_;
  HWND owner_ = nullptr;
  SelectedDevice device_;
  std::unique_ptr<CoefficientsStore> store_;
  std::unique_ptr<CalibrationDialog> calibration_;
  std::vector<std::string> boxes_;
  MessageBoxHook previousHook_;
};

TEST_F(DialogsTest, PasswordDialogOpensTheCalibrationOnlyForTheExactCode) {
  enum How { Typed, Pasted, Enter, Escape, CloseBox };
  struct Case {
    const char* code;
    How how;
    bool opens;
  };
  const Case cases[] = {
      {"48205917", Typed, true},   {"4820591", Typed, false},   {"482059170", Typed, false},
      {" 48205917", Typed, false}, {"", Typed, false},          {"48205917", Pasted, true},
      {"48205917", Enter, true},   {"48205917", Escape, false}, {"48205917", CloseBox, false},
  };
  // One dialog for all: each opening must start with an empty field.
  PasswordDialog password(*calibration_);
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.code) + " " + std::to_string(c.how));
    ShowWindow(calibration_->window(), SW_HIDE);
    bool ownerDisabled = false;
    bool masked = false;
    std::string atStart = "unset";
    const auto enter = [&](HWND dialog) {
      HWND field = GetDlgItem(dialog, PasswordCodeFieldId);
      ownerDisabled = !IsWindowEnabled(owner_);
      masked = SendMessageW(field, EM_GETPASSWORDCHAR, 0, 0) == L'#';
      atStart = windowString(field);
      if (c.how == Pasted) {
        SendMessageW(field, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(widen(c.code).c_str()));
      } else {
        typeText(field, c.code);
      }
      if (c.how == Typed || c.how == Pasted) SendMessageW(GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0);
      if (c.how == Enter) PostMessageW(field, WM_KEYDOWN, VK_RETURN, 0);
      if (c.how == Escape) PostMessageW(field, WM_KEYDOWN, VK_ESCAPE, 0);
      if (c.how == CloseBox) PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
    };
    EXPECT_TRUE(
        runModal({[&] { return password.window(); }, enter}, [&] { password.run(owner_); }));
    EXPECT_TRUE(ownerDisabled && masked);
    EXPECT_EQ(atStart, "");
    EXPECT_EQ(password.window(), nullptr);
    EXPECT_TRUE(IsWindowEnabled(owner_));
    EXPECT_EQ(calibration_->window() && calibrationVisible(), c.opens);
    EXPECT_TRUE(boxes_.empty());
  }
}

TEST_F(DialogsTest, ActivationFillsTheFieldsFromTheSelectedDevicesSection) {
  writeCoefficients("[1-160]\r\nACP1=200\r\nACP2=50\r\nR1=1,5\r\nR2=10\r\n[9-100]\r\nR1=2\r\n");
  struct Case {
    const char* name;
    SelectedDevice device;
    int typeBefore;
    int type;
    const char* fields;
  };
  const Case cases[] = {
      {"stored section", {5, 1, 160}, 3, 0, "1,60|1,5|200|10|50"},
      {"no section", {5, 2, 100}, 1, -1, "||||"},
      {"no device", {0, 0, 0}, 2, -1, "||||"},
      // A type the list does not have keeps the entry shown before.
      {"type not in the list", {7, 9, 100}, 2, 2, "1,00|2|||"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    device_ = c.device;
    showCalibration();
    // Typed but not stored: gone once the dialog is left and activated again.
    enterFields(c.typeBefore, "9|9|9|9|9");
    SetActiveWindow(owner_);
    pumpMessages();
    SetActiveWindow(calibration_->window());
    pumpMessages();
    EXPECT_EQ(typeShown(), c.type);
    EXPECT_EQ(fieldsShown(), c.fields);
    SendMessageW(control(IDCANCEL), BM_CLICK, 0, 0);
  }
}

TEST_F(DialogsTest, PointTypedLastBecomesTheDecimalComma) {
  struct Case {
    int field;
    const char* typed;
    const char* pasted;
    const char* shown;
  };
  const Case cases[] = {
      {CalibrationR1FieldId, "3.5", "", "3,5"},
      {CalibrationVersionFieldId, "1.05", "", "1,05"},
      {CalibrationR1FieldId, "", "3.55", "3.55"},
      {CalibrationR2FieldId, "", "7.", "7,"},
      // The ADC fields take their text as it is.
      {CalibrationAcp1FieldId, "3.", "", "3."},
  };
  showCalibration();
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.typed) + c.pasted);
    HWND field = control(c.field);
    SetWindowTextW(field, widen(c.pasted).c_str());
    typeText(field, c.typed);
    EXPECT_EQ(windowString(field), c.shown);
    DWORD end = 0;
    SendMessageW(field, EM_GETSEL, 0, reinterpret_cast<LPARAM>(&end));
    // Typing goes on at the end.
    if (*c.typed) {
      EXPECT_EQ(end, std::string(c.shown).size());
    }
  }
}

constexpr char NotANumber[] = "'1.5' is not a valid floating point value";

TEST_F(DialogsTest, EnterStoresOrShowsEachFailedCheckInItsOwnBox) {
  const std::string before = "[2-100]\r\nR1=1\r\n";
  constexpr WPARAM Click = 0;
  struct Case {
    const char* name;
    SelectedDevice device;
    int type;
    const char* fields;
    WPARAM key;
    std::vector<std::string> boxes;
    const char* after;  // "open", "closed", or the section stored
  };
  const std::string noType = "Error|error|Введенный тип прибора неподдерживается";
  const std::string noVersion = "Error|error|Не введена версия прибора";
  const std::string failed = applicationTitle() + "|error|";
  const Case cases[] = {
      {"nothing chosen", {}, -1, "|1|200|10|50", Click, {noType, noVersion}, "closed"},
      {"no type", {}, -1, "1,05|1|200|10|50", VK_RETURN, {noType}, "closed"},
      {"no number", {}, 3, "1,05|1.5|200|10|50", Click, {failed + NotANumber}, "open"},
      {"Esc", {}, 3, "1,05|1|200|10|50", VK_ESCAPE, {}, "closed"},
      {"no device selected", {}, 3, "1,05|1|200|10|50", Click, {}, "11-105"},
      {"Enter", {}, 3, "1,05|1|200|10|50", VK_RETURN, {}, "11-105"},
      {"selected device", {5, 2, 100}, 0, "9,99|1|200|10|50", Click, {}, "2-100"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    writeCoefficients(before);
    boxes_.clear();
    device_ = c.device;
    showCalibration();
    enterFields(c.type, c.fields);
    if (c.key == Click) {
      SendMessageW(control(IDOK), BM_CLICK, 0, 0);
    } else {
      PostMessageW(control(CalibrationAcp2FieldId), WM_KEYDOWN, c.key, 0);
    }
    pumpMessages();
    EXPECT_EQ(boxes_, c.boxes);
    const bool staysOpen = std::string(c.after) == "open";
    EXPECT_EQ(calibrationVisible(), staysOpen);
    if (staysOpen) {
      EXPECT_EQ(fieldsShown(), c.fields);
    }
    int type = 0;
    int version = 0;
    if (std::sscanf(c.after, "%d-%d", &type, &version) == 2) {
      const auto points =
          store_->LoadPoints(static_cast<uint8_t>(type), static_cast<uint8_t>(version));
      ASSERT_TRUE(points);
      EXPECT_EQ(points->ACP1 + "|" + points->ACP2 + "|" + points->R1 + "|" + points->R2,
                "200|50|1|10");
    } else {
      EXPECT_EQ(coefficientsFile(), before);
    }
    ShowWindow(calibration_->window(), SW_HIDE);
  }
}

// A real error box over the dialog: when it closes the dialog becomes active
// again, which must not refill the fields the user is correcting.
TEST_F(DialogsTest, EntriesStayAfterTheErrorBoxCloses) {
  writeCoefficients("[1-160]\r\nACP1=200\r\nACP2=50\r\nR1=1\r\nR2=10\r\n");
  device_ = {5, 1, 160};
  showCalibration();
  SetWindowTextW(control(CalibrationR1FieldId), L"x1");
  setMessageBoxHook({});
  std::string boxText;
  const auto findBox = [] { return FindWindowW(L"#32770", widen(applicationTitle()).c_str()); };
  const auto closeBox = [&](HWND box) {
    boxText = windowString(GetDlgItem(box, 0xFFFF));
    PostMessageW(box, WM_COMMAND, IDOK, 0);
  };
  EXPECT_TRUE(runModal({findBox, closeBox}, [&] {
    SendMessageW(control(IDOK), BM_CLICK, 0, 0);
    pumpMessages();
  }));
  EXPECT_EQ(boxText, "'x1' is not a valid floating point value");
  EXPECT_TRUE(calibrationVisible());
  EXPECT_EQ(windowString(control(CalibrationR1FieldId)), "x1");
}

}  // namespace
}  // namespace loopmon::win32

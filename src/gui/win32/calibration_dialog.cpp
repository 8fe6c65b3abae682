#include "gui/win32/calibration_dialog.h"

#include <iterator>
#include <vector>

#include "gui/win32/dialog_layout.h"
#include "gui/win32/message_box.h"

namespace loopmon::win32 {

namespace {

constexpr DWORD Style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;
constexpr DialogLayout::Font DialogFont{11, true};
constexpr DialogLayout::Font CaptionFont{13, true};
constexpr DialogLayout::Font FieldFont{11, false};
constexpr DialogLayout::Font IndexFont{8, true};
constexpr DialogLayout::Font HintFont{11, false};
constexpr DialogLayout::Font HintIndexFont{8, false};

std::string fieldText(HWND field) {
  std::wstring text(static_cast<size_t>(GetWindowTextLengthW(field)) + 1, L'\0');
  text.resize(
      static_cast<size_t>(GetWindowTextW(field, text.data(), static_cast<int>(text.size()))));
  return narrow(text);
}

void setFieldText(HWND field, const std::string& text) {
  SetWindowTextW(field, widen(text).c_str());
}

}  // namespace

CalibrationDialog::CalibrationDialog(std::function<SelectedDevice()> selectedDevice,
                                     CoefficientsStore& store, std::optional<char> decimalSeparator)
    : model_(std::move(selectedDevice), store, decimalSeparator) {}

CalibrationDialog::~CalibrationDialog() {
  if (window_) DestroyWindow(window_);
}

void CalibrationDialog::show(HWND owner) {
  if (!window_) {
    const std::vector<WORD> dialogTemplate =
        emptyDialogTemplate(Style, WS_EX_TOPMOST, L"Калибровка");
    CreateDialogIndirectParamW(GetModuleHandleW(nullptr),
                               reinterpret_cast<const DLGTEMPLATE*>(dialogTemplate.data()), owner,
                               &CalibrationDialog::dialogProc, reinterpret_cast<LPARAM>(this));
  }
  ShowWindow(window_, SW_SHOW);
  SetForegroundWindow(window_);
  SetActiveWindow(window_);
}

INT_PTR CALLBACK CalibrationDialog::dialogProc(HWND window, UINT message, WPARAM wParam,
                                               LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    auto* dialog = reinterpret_cast<CalibrationDialog*>(lParam);
    SetWindowLongPtrW(window, DWLP_USER, lParam);
    dialog->window_ = window;
  }
  auto* dialog = reinterpret_cast<CalibrationDialog*>(GetWindowLongPtrW(window, DWLP_USER));
  return dialog ? dialog->handle(message, wParam, lParam) : FALSE;
}

INT_PTR CalibrationDialog::handle(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      createControls();
      addModelessDialog(window_);
      return TRUE;
    case WM_ACTIVATE:
      if (LOWORD(wParam) != WA_INACTIVE && !showingBoxes_) onActivated();
      // The dialog manager still keeps the focus control.
      return FALSE;
    case WM_COMMAND: {
      const int id = LOWORD(wParam);
      const auto control = reinterpret_cast<HWND>(lParam);
      if (HIWORD(wParam) == EN_CHANGE &&
          (control == r1Field_ || control == r2Field_ || control == versionField_)) {
        onFieldEdited(control);
      } else if (id == IDOK) {
        onEnterClicked();
      } else if (id == IDCANCEL) {
        ShowWindow(window_, SW_HIDE);
      }
      return TRUE;
    }
    case WM_CLOSE:
      ShowWindow(window_, SW_HIDE);
      return TRUE;
    case WM_PAINT:
      paintCaptions();
      return TRUE;
    case WM_DPICHANGED: {
      layout_->apply(HIWORD(wParam));
      const auto* suggested = reinterpret_cast<const RECT*>(lParam);
      SetWindowPos(window_, nullptr, suggested->left, suggested->top,
                   suggested->right - suggested->left, suggested->bottom - suggested->top,
                   SWP_NOZORDER | SWP_NOACTIVATE);
      return TRUE;
    }
    case WM_DESTROY:
      removeModelessDialog(window_);
      layout_.reset();
      window_ = nullptr;
      return FALSE;
    default:
      return FALSE;
  }
}

void CalibrationDialog::createControls() {
  layout_ = std::make_unique<DialogLayout>(window_);
  DialogLayout& layout = *layout_;
  // Created in the tab order: R1, ADC1, R2, ADC2, the buttons, type, version.
  r1Field_ = layout.add(L"EDIT", L"", WS_TABSTOP | ES_AUTOHSCROLL, CalibrationR1FieldId,
                        {49, 65, 57, 21}, FieldFont, WS_EX_CLIENTEDGE);
  acp1Field_ = layout.add(L"EDIT", L"", WS_TABSTOP | ES_AUTOHSCROLL, CalibrationAcp1FieldId,
                          {196, 65, 57, 21}, FieldFont, WS_EX_CLIENTEDGE);
  r2Field_ = layout.add(L"EDIT", L"", WS_TABSTOP | ES_AUTOHSCROLL, CalibrationR2FieldId,
                        {49, 122, 57, 21}, FieldFont, WS_EX_CLIENTEDGE);
  acp2Field_ = layout.add(L"EDIT", L"", WS_TABSTOP | ES_AUTOHSCROLL, CalibrationAcp2FieldId,
                          {196, 121, 57, 21}, FieldFont, WS_EX_CLIENTEDGE);
  layout.add(L"BUTTON", L"Ввод", WS_TABSTOP | BS_DEFPUSHBUTTON, IDOK, {60, 151, 75, 25},
             DialogFont);
  layout.add(L"BUTTON", L"Отмена", WS_TABSTOP | BS_PUSHBUTTON, IDCANCEL, {140, 151, 78, 25},
             DialogFont);
  // The height of a drop-down list includes its opened list.
  typeSelector_ = layout.add(L"COMBOBOX", L"", WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST,
                             CalibrationTypeSelectorId, {129, 8, 145, 120}, DialogFont);
  for (const DeviceTypeEntry& entry : CalibrationTypes) {
    SendMessageW(typeSelector_, CB_ADDSTRING, 0,
                 reinterpret_cast<LPARAM>(widen(entry.text).c_str()));
  }
  versionField_ = layout.add(L"EDIT", L"", WS_TABSTOP | ES_AUTOHSCROLL, CalibrationVersionFieldId,
                             {129, 32, 57, 21}, DialogFont, WS_EX_CLIENTEDGE);
  layout.add(L"STATIC", L"Тип прибора", SS_LEFT, -1, {4, 10, 96, 16}, CaptionFont);
  layout.add(L"STATIC", L"Версия прибора", SS_LEFT, -1, {4, 34, 121, 16}, CaptionFont);
  layout.add(L"STATIC", L"АЦП:", SS_LEFT, -1, {155, 67, 36, 16}, CaptionFont);
  layout.add(L"STATIC", L"АЦП:", SS_LEFT, -1, {155, 123, 36, 16}, CaptionFont);
  layout.sizeCentred(278, 182);
}

// "R [edit] кОм" with the reference's index below the letter, and the hint
// "(R1 < R2)" with its indexes as subscripts: drawn, since the pieces overlap
// the edit boxes' row and one another.
void CalibrationDialog::paintCaptions() {
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(window_, &paint);
  DialogLayout& layout = *layout_;
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, GetSysColor(COLOR_BTNTEXT));
  const auto text = [&](DialogLayout::Font font, int left, int top, const wchar_t* s) {
    SelectObject(dc, layout.font(font));
    const int length = lstrlenW(s);
    TextOutW(dc, left, top, s, length);
    SIZE size{};
    GetTextExtentPoint32W(dc, s, length, &size);
    return left + size.cx;
  };
  const auto reference = [&](int top, int indexTop, const wchar_t* index) {
    text(CaptionFont, layout.scaled(25), layout.scaled(top), L"R");
    text(IndexFont, layout.scaled(36), layout.scaled(indexTop), index);
    SelectObject(dc, layout.font(CaptionFont));
    RECT unit{layout.scaled(106), layout.scaled(top), layout.scaled(138), layout.scaled(top + 16)};
    DrawTextW(dc, L"кОм", -1, &unit, DT_RIGHT | DT_TOP | DT_SINGLELINE | DT_NOCLIP);
  };
  reference(67, 74, L"1");
  reference(123, 130, L"2");

  const int hintTop = layout.scaled(90);
  const int indexTop = layout.scaled(95);
  int x = text(HintFont, layout.scaled(49), hintTop, L"(R");
  x = text(HintIndexFont, x, indexTop, L"1");
  x = text(HintFont, x, hintTop, L" < R");
  x = text(HintIndexFont, x, indexTop, L"2");
  text(HintFont, x, hintTop, L")");
  EndPaint(window_, &paint);
}

CalibrationFields CalibrationDialog::fields() const {
  return {.typeEntry = static_cast<int>(SendMessageW(typeSelector_, CB_GETCURSEL, 0, 0)),
          .version = fieldText(versionField_),
          .r1 = fieldText(r1Field_),
          .acp1 = fieldText(acp1Field_),
          .r2 = fieldText(r2Field_),
          .acp2 = fieldText(acp2Field_)};
}

void CalibrationDialog::showFields(const CalibrationFields& shown) {
  SendMessageW(typeSelector_, CB_SETCURSEL, static_cast<WPARAM>(shown.typeEntry), 0);
  setFieldText(versionField_, shown.version);
  setFieldText(r1Field_, shown.r1);
  setFieldText(acp1Field_, shown.acp1);
  setFieldText(r2Field_, shown.r2);
  setFieldText(acp2Field_, shown.acp2);
}

void CalibrationDialog::onActivated() {
  runHandler(window_, [this] { showFields(model_.activated(fields())); });
}

void CalibrationDialog::onFieldEdited(HWND field) {
  if (const auto fixed = model_.fieldEdited(fieldText(field))) {
    setFieldText(field, *fixed);
    // Typing goes on after the comma.
    const auto end = static_cast<LPARAM>(GetWindowTextLengthW(field));
    SendMessageW(field, EM_SETSEL, static_cast<WPARAM>(end), end);
  }
}

void CalibrationDialog::onEnterClicked() {
  showingBoxes_ = true;
  runHandler(window_, [this] {
    for (const std::string& message : model_.enter(fields())) {
      showMessageBox(window_, message, "Error", MB_ICONERROR);
    }
    ShowWindow(window_, SW_HIDE);
  });
  showingBoxes_ = false;
}

}  // namespace loopmon::win32

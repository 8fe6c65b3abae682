#include "gui/win32/password_dialog.h"

#include <vector>

#include "gui/win32/calibration_dialog.h"
#include "gui/win32/dialog_layout.h"
#include "loops/calibration_model.h"

namespace loopmon::win32 {

namespace {

constexpr DWORD Style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;
constexpr DialogLayout::Font DialogFont{11, true};
constexpr DialogLayout::Font PromptFont{13, true};

std::wstring windowText(HWND window) {
  std::wstring text(static_cast<size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
  text.resize(
      static_cast<size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
  return text;
}

}  // namespace

PasswordDialog::PasswordDialog(CalibrationDialog& calibration) : calibration_(calibration) {}

PasswordDialog::~PasswordDialog() = default;

void PasswordDialog::run(HWND owner) {
  // Built afresh for every opening, so no code stays in the field.
  accepted_ = false;
  const std::vector<WORD> dialogTemplate = emptyDialogTemplate(Style, 0, L"Запрос пароля");
  DialogBoxIndirectParamW(GetModuleHandleW(nullptr),
                          reinterpret_cast<const DLGTEMPLATE*>(dialogTemplate.data()), owner,
                          &PasswordDialog::dialogProc, reinterpret_cast<LPARAM>(this));
  if (accepted_) calibration_.show(owner);
}

INT_PTR CALLBACK PasswordDialog::dialogProc(HWND window, UINT message, WPARAM wParam,
                                            LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    auto* dialog = reinterpret_cast<PasswordDialog*>(lParam);
    SetWindowLongPtrW(window, DWLP_USER, lParam);
    dialog->window_ = window;
  }
  auto* dialog = reinterpret_cast<PasswordDialog*>(GetWindowLongPtrW(window, DWLP_USER));
  return dialog ? dialog->handle(message, wParam, lParam) : FALSE;
}

INT_PTR PasswordDialog::handle(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      createControls();
      SetFocus(codeField_);
      return FALSE;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK) onOkClicked();
      // Esc closes like the close box: a wrong code, silently.
      if (LOWORD(wParam) == IDCANCEL) EndDialog(window_, IDCANCEL);
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
      layout_.reset();
      window_ = nullptr;
      codeField_ = nullptr;
      return FALSE;
    default:
      return FALSE;
  }
}

void PasswordDialog::createControls() {
  layout_ = std::make_unique<DialogLayout>(window_);
  layout_->add(L"STATIC", L"Введите пароль:", SS_LEFT, -1, {7, 16, 125, 16}, PromptFont);
  codeField_ = layout_->add(L"EDIT", L"", WS_TABSTOP | ES_PASSWORD | ES_AUTOHSCROLL,
                            PasswordCodeFieldId, {137, 14, 121, 21}, DialogFont, WS_EX_CLIENTEDGE);
  SendMessageW(codeField_, EM_SETPASSWORDCHAR, L'#', 0);
  layout_->add(L"BUTTON", L"Ok", WS_TABSTOP | BS_DEFPUSHBUTTON, IDOK, {94, 48, 75, 25}, DialogFont);
  layout_->sizeCentred(263, 82);
}

void PasswordDialog::onOkClicked() {
  accepted_ = AccessCodeAccepted(narrow(windowText(codeField_)));
  EndDialog(window_, IDOK);
}

}  // namespace loopmon::win32

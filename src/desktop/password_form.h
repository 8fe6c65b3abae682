#pragma once
// The password dialog as designed.

#include "desktop/form.h"
#include "desktop/texts.h"

namespace loopmon::password_form {

enum Control : int {
  Prompt = 101,
  CodeField,
  OkButton,
};

inline constexpr FontSpec PromptFont{"MS Sans Serif", 13, true};

inline constexpr ControlForm Controls[] = {
    {.id = Prompt,
     .name = "prompt",
     .kind = ControlKind::Label,
     .rect = {7, 16, 125, 16},
     .text = texts::EnterPassword,
     .font = &PromptFont},
    {.id = CodeField,
     .name = "codeField",
     .kind = ControlKind::CodeEdit,
     .rect = {137, 14, 121, 21},
     .tabOrder = 1},
    {.id = OkButton,
     .name = "okButton",
     .kind = ControlKind::PushButton,
     .rect = {94, 48, 75, 25},
     .text = texts::Ok,
     .tabOrder = 2,
     .defaultButton = true},
};

inline constexpr WindowForm Form{.name = "passwordDialog",
                                 .title = texts::PasswordTitle,
                                 .client = {263, 82},
                                 .font = {"MS Sans Serif", 11, true},
                                 .controls = Controls};

}  // namespace loopmon::password_form

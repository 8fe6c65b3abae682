#pragma once
// The main window as designed, and how its loop table looks.

#include "desktop/form.h"
#include "desktop/texts.h"

namespace loopmon::main_form {

enum Control : int {
  SearchButton = 101,
  DeviceLabel,
  LoopTable,
  ReadButton,
  AdcViewToggle,
  StateViewToggle,
  ToolsButton,
  PeriodicButton,
  PeriodField,
};

inline constexpr ControlForm Controls[] = {
    {.id = SearchButton,
     .name = "searchButton",
     .kind = ControlKind::PushButton,
     .rect = {8, 3, 25, 25},
     .hint = texts::SearchHint,
     .tabOrder = 1,
     .icon = ButtonIcon::Search},
    {.id = DeviceLabel,
     .name = "deviceLabel",
     .kind = ControlKind::Label,
     .rect = {40, 7, 128, 16},
     .text = texts::NoDevice,
     .sizedToText = true},
    {.id = LoopTable,
     .name = "loopTable",
     .kind = ControlKind::LoopTable,
     .rect = {8, 32, 295, 362},
     .tabOrder = 2},
    {.id = ReadButton,
     .name = "readButton",
     .kind = ControlKind::PushButton,
     .rect = {8, 399, 94, 25},
     .text = texts::Read,
     .hint = texts::ReadHint,
     .tabOrder = 3,
     .enabled = false,
     .icon = ButtonIcon::Read},
    // Designed 40 wide, 2 pixels under its neighbour; it ends where that begins.
    {.id = AdcViewToggle,
     .name = "adcViewToggle",
     .kind = ControlKind::TogglePanel,
     .rect = {106, 400, 38, 24},
     .text = texts::AdcView},
    {.id = StateViewToggle,
     .name = "stateViewToggle",
     .kind = ControlKind::TogglePanel,
     .rect = {144, 399, 40, 25},
     .text = texts::StateView},
    {.id = ToolsButton,
     .name = "toolsButton",
     .kind = ControlKind::PushButton,
     .rect = {190, 399, 25, 25},
     .hint = texts::ToolsHint,
     .tabOrder = 4,
     .icon = ButtonIcon::Tools},
    {.id = PeriodicButton,
     .name = "periodicButton",
     .kind = ControlKind::LatchButton,
     .rect = {216, 399, 25, 25},
     .hint = texts::PeriodicHint,
     .tabOrder = 5,
     .enabled = false,
     .icon = ButtonIcon::Periodic},
    // Any two digits reach the field; the model keeps the period in 1..30.
    {.id = PeriodField,
     .name = "periodField",
     .kind = ControlKind::SpinEdit,
     .rect = {248, 398, 57, 26},
     .text = "1",
     .tabOrder = 6,
     .enabled = false,
     .maxLength = 2,
     .minimum = 0,
     .maximum = 99},
};

inline constexpr WindowForm Form{.name = "mainWindow",
                                 .title = texts::MainCaption,
                                 .client = {311, 434},
                                 .font = {"System", 13, true},
                                 .minimizable = true,
                                 .controls = Controls};

// The loop table: 16-pixel rows on silver, a skipped loop's number on red, a
// moved loop's number with a blue corner (apart from the red and the grey).
inline constexpr int TableRowHeight = 16;
inline constexpr Colour TableBackground{192, 192, 192};
inline constexpr Colour SkipMarkColour{255, 0, 0};
inline constexpr Colour MovedMarkColour{0, 70, 200};
inline constexpr int MovedCornerSide = 7;
// The frame of a row another window chose.
inline constexpr Colour ChosenRowColour{0, 0, 160};

}  // namespace loopmon::main_form

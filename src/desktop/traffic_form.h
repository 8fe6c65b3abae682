#pragma once
// The traffic window as designed: the address filter and the buttons above
// the list of exchanges, the per-device counters below it; the list takes
// whatever room the user gives the window.

#include "desktop/form.h"
#include "desktop/texts.h"

namespace loopmon::traffic_form {

enum Control : int {
  FilterLabel = 101,
  FilterField,
  PauseButton,
  ClearButton,
  SaveButton,
  TraceList,
  CountersList,
  SaveCaptureButton,
};

// The lines are columns of hex and figures.
inline constexpr FontSpec ListFont{"Courier New", 13, false, true};

inline constexpr ControlForm Controls[] = {
    {.id = FilterLabel,
     .name = "filterLabel",
     .kind = ControlKind::Label,
     .rect = {8, 12, 50, 18},
     .text = texts::AddressFilter},
    {.id = FilterField,
     .name = "filterField",
     .kind = ControlKind::Edit,
     .rect = {60, 8, 50, 24},
     .tabOrder = 1,
     .maxLength = 3},
    {.id = PauseButton,
     .name = "pauseButton",
     .kind = ControlKind::PushButton,
     .rect = {122, 8, 100, 25},
     .text = texts::Pause,
     .tabOrder = 2},
    {.id = ClearButton,
     .name = "clearButton",
     .kind = ControlKind::PushButton,
     .rect = {228, 8, 100, 25},
     .text = texts::Clear,
     .tabOrder = 3},
    {.id = SaveCaptureButton,
     .name = "saveCaptureButton",
     .kind = ControlKind::PushButton,
     .rect = {502, 8, 174, 25},
     .text = texts::SaveCapture,
     .tabOrder = 4,
     .horizontal = Follow::Move},
    {.id = SaveButton,
     .name = "saveButton",
     .kind = ControlKind::PushButton,
     .rect = {682, 8, 110, 25},
     .text = texts::SaveText,
     .tabOrder = 5,
     .horizontal = Follow::Move},
    {.id = TraceList,
     .name = "traceList",
     .kind = ControlKind::ListBox,
     .rect = {8, 40, 784, 340},
     .tabOrder = 6,
     .font = &ListFont,
     .horizontal = Follow::Stretch,
     .vertical = Follow::Stretch},
    {.id = CountersList,
     .name = "countersList",
     .kind = ControlKind::ListBox,
     .rect = {8, 388, 784, 104},
     .tabOrder = 7,
     .font = &ListFont,
     .horizontal = Follow::Stretch,
     .vertical = Follow::Move},
};

inline constexpr WindowForm Form{.name = "trafficWindow",
                                 .title = texts::TrafficTitle,
                                 .client = {800, 500},
                                 .font = {"MS Sans Serif", 13, false},
                                 .resizable = true,
                                 .controls = Controls};

}  // namespace loopmon::traffic_form

#pragma once
// The survey window as designed: the site's name, the survey, save and
// compare buttons, the progress, the list of the devices surveyed, and the
// list of changes since an earlier record, which takes whatever room the user
// gives the window. No button is
// the default: an Enter meant for the site's name must not start a survey
// over the record not yet saved.

#include "desktop/form.h"
#include "desktop/texts.h"

namespace loopmon::survey_form {

enum Control : int {
  SiteLabel = 101,
  SiteField,
  SurveyButton,
  SaveButton,
  CompareButton,
  ProgressLabel,
  ProgressBar,
  ChangesList,
  DevicesLabel,
  DevicesList,
  ChangesLabel,
  SiteHistoryButton,
};

// The progress bar counts in hundredths of the survey.
inline constexpr int ProgressSteps = 100;

inline constexpr ControlForm Controls[] = {
    {.id = SiteLabel,
     .name = "siteLabel",
     .kind = ControlKind::Label,
     .rect = {8, 12, 60, 18},
     .text = texts::SiteLabel},
    {.id = SiteField,
     .name = "siteField",
     .kind = ControlKind::Edit,
     .rect = {70, 8, 442, 24},
     .tabOrder = 1,
     .horizontal = Follow::Stretch,
     .maxLength = 200},
    {.id = SurveyButton,
     .name = "surveyButton",
     .kind = ControlKind::PushButton,
     .rect = {8, 40, 100, 25},
     .text = texts::Survey,
     .tabOrder = 2},
    {.id = SaveButton,
     .name = "saveButton",
     .kind = ControlKind::PushButton,
     .rect = {114, 40, 110, 25},
     .text = texts::SaveText,
     .tabOrder = 3,
     .enabled = false},
    {.id = CompareButton,
     .name = "compareButton",
     .kind = ControlKind::PushButton,
     .rect = {230, 40, 110, 25},
     .text = texts::CompareWith,
     .tabOrder = 4,
     .enabled = false},
    {.id = SiteHistoryButton,
     .name = "siteHistoryButton",
     .kind = ControlKind::PushButton,
     .rect = {346, 40, 166, 25},
     .text = texts::SiteHistoryItem,
     .tabOrder = 5},
    {.id = ProgressLabel,
     .name = "progressLabel",
     .kind = ControlKind::Label,
     .rect = {8, 74, 504, 18},
     .horizontal = Follow::Stretch},
    {.id = ProgressBar,
     .name = "progressBar",
     .kind = ControlKind::ProgressBar,
     .rect = {8, 94, 504, 17},
     .horizontal = Follow::Stretch,
     .maximum = ProgressSteps},
    {.id = DevicesLabel,
     .name = "devicesLabel",
     .kind = ControlKind::Label,
     .rect = {8, 120, 504, 16},
     .text = texts::DevicesLabel,
     .horizontal = Follow::Stretch},
    {.id = DevicesList,
     .name = "devicesList",
     .kind = ControlKind::ListBox,
     .rect = {8, 138, 504, 134},
     .tabOrder = 6,
     .horizontal = Follow::Stretch},
    {.id = ChangesLabel,
     .name = "changesLabel",
     .kind = ControlKind::Label,
     .rect = {8, 280, 504, 16},
     .text = texts::ChangesLabel,
     .horizontal = Follow::Stretch},
    {.id = ChangesList,
     .name = "changesList",
     .kind = ControlKind::ListBox,
     .rect = {8, 298, 504, 194},
     .tabOrder = 7,
     .horizontal = Follow::Stretch,
     .vertical = Follow::Stretch},
};

inline constexpr WindowForm Form{.name = "surveyWindow",
                                 .title = texts::SurveyTitle,
                                 .client = {520, 500},
                                 .font = {"MS Sans Serif", 13, false},
                                 .resizable = true,
                                 .controls = Controls};

}  // namespace loopmon::survey_form

#include "desktop/search_dialog_model.h"

#include <algorithm>
#include <exception>

#include "common/number_text.h"
#include "desktop/texts.h"
#include "platform/store/profile_file.h"
#include "platform/store/whole_file.h"

namespace loopmon {

namespace {

const char* const PortSection = "Port";
const char* const PortKey = "Num";
const char* const PortNameKey = "Name";
const char* const SearchSection = "Search";
const char* const QuickKey = "Quick";

}  // namespace

SearchDialogModel::SearchDialogModel(SearchDialogView& view, BusRunner* bus,
                                     std::string portSettingsPath, PortChoices portChoices)
    : view_(view),
      // A port that cannot be opened is told in the windows' language.
      procedure_(view, bus, {texts::OpenFailureText, texts::ApplicationTitle}),
      portSettingsPath_(std::move(portSettingsPath)),
      portChoices_(std::move(portChoices)) {}

void SearchDialogModel::aboutToShow() {
  std::vector<std::string> texts;
  portNames_.clear();
  for (const PortChoiceItem& item : portChoices_ ? portChoices_() : searchPortChoices({})) {
    texts.push_back(item.text);
    portNames_.push_back(item.name);
  }
  view_.setPortItems(texts);
  // A "pcom.ini" that cannot be read selects no port and is told once the
  // dialog has started its check.
  std::exception_ptr unreadable;
  int index = -1;
  bool quick = false;
  try {
    const ProfileFile settings(portSettingsPath_);
    quick = settings.readInt(SearchSection, QuickKey, 0) == 1;
    index = settings.readInt(PortSection, PortKey, 0);
    if (index >= PortCount) {
      const std::string name = settings.readString(PortSection, PortNameKey, "");
      const auto found =
          std::find(portNames_.begin() + std::min<size_t>(PortCount, portNames_.size()),
                    portNames_.end(), name);
      index = found == portNames_.end() || name.empty()
                  ? -1
                  : static_cast<int>(found - portNames_.begin());
    }
  } catch (const FileError&) {
    unreadable = std::current_exception();
  }
  view_.setPortIndex(index >= 0 ? index : -1);
  procedure_.SetQuick(quick);
  quickKept_ = quick;
  view_.setQuickChecked(quick);
  procedure_.CheckKnownDevices();
  if (unreadable) std::rethrow_exception(unreadable);
}

void SearchDialogModel::chooseDevice() {
  // An empty list chooses nothing: the dialog stays open and a running scan
  // goes on.
  if (devices().empty()) return;
  view_.setScanTimerEnabled(false);
  if (view_.selectedLine() < 0) view_.selectLine(0);
  const size_t line = static_cast<size_t>(view_.selectedLine());
  procedure_.SelectedAddress = devices().at(std::min(line, devices().size() - 1)).address;
  view_.closeDialog();
}

void SearchDialogModel::quickToggled(bool checked) {
  procedure_.SetQuick(checked);
  quickKept_ = true;
}

void SearchDialogModel::cancelClicked() {
  view_.setScanTimerEnabled(false);
  view_.closeDialog();
}

void SearchDialogModel::closed() {
  procedure_.EndScan();
  view_.setSearchCaption(SearchButtonSearch);
  view_.setPortEnabled(true);
  view_.setProgress(0);
  if (view_.portIndex() < 0) view_.setPortIndex(0);
  const int index = view_.portIndex();
  std::vector<std::pair<std::string, std::string>> entries{{PortKey, std::to_string(index)}};
  if (index >= PortCount && index < static_cast<int>(portNames_.size())) {
    entries.emplace_back(PortNameKey, portNames_[static_cast<size_t>(index)]);
  }
  // The dialog has closed all the same; the refused save is told as every
  // other save's is.
  // The option is written once it has been chosen: a file that never had it
  // stays as the port alone leaves it.
  ProfileFile settings(portSettingsPath_);
  if (!settings.writeStrings(PortSection, entries) ||
      (quickKept_ &&
       !settings.writeStrings(SearchSection, {{QuickKey, procedure_.Quick() ? "1" : "0"}}))) {
    throw FileWriteError(portSettingsPath_);
  }
}

}  // namespace loopmon

#include "desktop/survey_window_model.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <set>

#include "common/number_text.h"
#include "common/sha256.h"
#include "desktop/survey_form.h"
#include "desktop/texts.h"
#include "loops/loop_history.h"
#include "platform/store/whole_file.h"
#include "record/report.h"
#include "search/search_procedure.h"
#include "session/bus_runner.h"
#include "session/device_names.h"
#include "session/session.h"

namespace loopmon {

namespace {

// The presence checks are quick; the reading of the devices is most of a survey.
constexpr int CheckSteps = survey_form::ProgressSteps / 10;

}  // namespace

SurveyWindowModel::SurveyWindowModel(SurveyWindowView& view, BusRunner& bus,
                                     const CoefficientsStore& store,
                                     std::optional<char> decimalSeparator)
    : view_(view), bus_(bus), store_(store), decimalSeparator_(decimalSeparator) {}

SurveyWindowModel::~SurveyWindowModel() = default;

char SurveyWindowModel::separator() const {
  return decimalSeparator_ ? *decimalSeparator_ : userDecimalSeparator();
}

void SurveyWindowModel::surveyClicked() {
  if (running_) {
    if (stopping_) return;
    stopping_ = true;
    if (survey_) survey_->Stop();
    view_.showSurveyButton(SearchButtonStop, false);
    return;
  }
  running_ = true;
  record_.reset();
  earlier_.reset();
  changes_.clear();
  messages_.clear();
  deviceLines_.clear();
  deviceChoices_.clear();
  view_.showRecordControls(false);
  view_.showDevices({});
  view_.showChanges({});
  view_.showSurveyButton(SearchButtonStop, true);
  view_.showProgress(texts::SurveyStarting, 0);
  time_ = IsoTime(std::chrono::system_clock::now());
  // The devices of the last search, as the session's table holds them.
  struct Found {
    std::set<int> addresses;
    std::string port;
  };
  auto found = std::make_shared<Found>();
  bus_.run(
      [found](TRSSession& session) {
        for (int address = 1; address <= 127; ++address) {
          if (session.GetDeviceType(static_cast<uint8_t>(address)) != NoDevice) {
            found->addresses.insert(address);
          }
        }
        found->port = session.PortName();
      },
      [this, found](std::exception_ptr error) {
        if (error) {
          running_ = stopping_ = false;
          view_.showSurveyButton(texts::Survey, true);
          view_.showProgress(texts::SurveyFailed, 0);
          std::rethrow_exception(error);
        }
        begin(ScanOrder(found->addresses), found->port);
      });
}

void SurveyWindowModel::begin(std::vector<uint8_t> addresses, std::string port) {
  port_ = std::move(port);
  // Made only once the last survey's steps are over: a Survey lives until
  // its last step has returned.
  survey_ = std::make_unique<Survey>(bus_, store_, static_cast<SurveyObserver&>(*this),
                                     SurveyPlan{std::move(addresses), false});
  if (stopping_) survey_->Stop();
  step();
}

void SurveyWindowModel::step() {
  survey_->Step([this](bool more) {
    if (more) {
      step();
    } else {
      finished();
    }
  });
}

void SurveyWindowModel::finished() {
  running_ = false;
  const bool stopped = stopping_ || survey_->Stopped();
  stopping_ = false;
  view_.showSurveyButton(texts::Survey, true);
  const std::vector<DeviceRecord>& devices = survey_->Devices();
  if (survey_->Failed()) {
    view_.showProgress(texts::SurveyFailed, 0);
  } else if (stopped) {
    view_.showProgress(texts::SurveyStopped, 0);
  } else if (devices.empty()) {
    view_.showProgress(NothingFound, 0);
  } else {
    record_ = SiteRecord{site_, time_, port_, "loopmon", LOOPMON_VERSION, devices};
    size_t loops = 0;
    for (const DeviceRecord& device : devices) loops += device.loops.size();
    view_.showProgress(
        texts::Format(texts::SurveyDone, std::to_string(devices.size()), std::to_string(loops)),
        survey_form::ProgressSteps);
    view_.showRecordControls(true);
    listDevices();
  }
  messages_.clear();
}

void SurveyWindowModel::listDevices() {
  for (const DeviceRecord& device : record_->devices) {
    const LoopCounts counts = CountLoops(device);
    std::string line =
        texts::Format(texts::SurveyDevice, std::to_string(device.addr),
                      device.name + " " + FormatFixed(device.version / 100.0, 2, separator()));
    if (counts.loops == 0) {
      line += texts::SurveyNoLoops;
    } else {
      line += texts::Format(texts::SurveyDeviceLoops, std::to_string(counts.loops)) +
              texts::Format(texts::SurveyOpenShort, std::to_string(counts.open),
                            std::to_string(counts.shorted)) +
              texts::Format(texts::SurveyAlarmSilent, std::to_string(counts.alarm),
                            std::to_string(counts.unanswered));
    }
    deviceLines_.push_back(line);
    deviceChoices_.emplace_back(device.addr, 0);
    for (const Note& note : messages_) {
      if (note.address != device.addr) continue;
      deviceLines_.push_back(texts::SurveyMessageIndent +
                             texts::Format(texts::SurveyMessage, std::to_string(note.address),
                                           std::to_string(note.loop)) +
                             note.text);
      deviceChoices_.emplace_back(note.address, note.loop);
    }
  }
  view_.showDevices(deviceLines_);
}

void SurveyWindowModel::closed() {
  if (running_) surveyClicked();
}

void SurveyWindowModel::Probing(int index, int count, uint8_t address) {
  view_.showProgress(ScanTitle + std::to_string(address) + " (" + std::to_string(index) + "/" +
                         std::to_string(count) + ")",
                     CheckSteps * index / count);
}

void SurveyWindowModel::Reading(int index, int count, const DeviceRecord& device) {
  view_.showProgress(
      texts::Format(texts::SurveyReading, std::to_string(index), std::to_string(count)) +
          DeviceDescription(device.addr, device.name, device.version, separator()),
      CheckSteps + (survey_form::ProgressSteps - CheckSteps) * (index - 1) / count);
}

void SurveyWindowModel::Message(uint8_t address, int loop, const std::string& text) {
  messages_.push_back({address, loop, text});
}

void SurveyWindowModel::saveClicked() {
  if (!record_) return;
  const std::optional<std::string> path = view_.askSavePath(texts::RecordFileName);
  if (!path || path->empty()) return;
  std::optional<ReportBaseline> baseline;
  if (earlier_) baseline.emplace(ReportBaseline{*earlier_, changes_});
  const std::string json = RecordJson(*record_);
  const std::pair<std::string, std::string> files[] = {
      {*path, json},
      {ReportPathFor(*path), ReportHtml(*record_, Sha256Hex(json), baseline ? &*baseline : nullptr,
                                        DefaultTolerancePercent, separator())}};
  for (const auto& [file, content] : files) {
    try {
      replaceWholeFile(file, content);
    } catch (const FileError& error) {
      view_.showMessage(texts::Format(texts::SaveFailed, file, error.reason()));
      return;
    }
  }
}

void SurveyWindowModel::compareClicked() {
  if (!record_) return;
  const std::optional<std::string> path = view_.askRecordPath();
  if (!path || path->empty()) return;
  std::optional<std::string> text;
  try {
    text = readWholeFile(*path);
  } catch (const FileError& error) {
    view_.showMessage(texts::Format(texts::ReadFailed, *path, error.reason()));
    return;
  }
  if (!text) {
    view_.showMessage(texts::Format(texts::ReadFailed, *path, texts::NoSuchFile));
    return;
  }
  try {
    earlier_ = ParseRecord(*text);
  } catch (const RecordError& error) {
    view_.showMessage(texts::Format(texts::NotARecord, *path, error.what()));
    return;
  }
  changes_ = CompareRecords(*earlier_, *record_);
  std::vector<std::string> lines;
  for (const RecordChange& change : changes_) lines.push_back(changeText(change));
  if (lines.empty()) lines.push_back(texts::NoChanges);
  view_.showChanges(lines);
  view_.showProgress(texts::Format(texts::ChangesSince, LocalTimeText(earlier_->time),
                                   std::to_string(changes_.size())),
                     survey_form::ProgressSteps);
}

std::string SurveyWindowModel::valueText(const RecordChange& change,
                                         const ChangeValue& value) const {
  switch (value.kind) {
    case ChangeValue::Kind::None:
      return texts::NoValue;
    case ChangeValue::Kind::Text:
      return value.text;
    case ChangeValue::Kind::Number:
      break;
  }
  if (change.what == ChangeKind::Type) return DeviceTypeName(static_cast<uint8_t>(value.number));
  std::string number = value.text;
  std::replace(number.begin(), number.end(), '.', separator());
  // Every other number of a change is a resistance.
  return change.what == ChangeKind::Version ? number : number + " " + texts::KiloOhms;
}

std::string SurveyWindowModel::changeText(const RecordChange& change) const {
  const std::string address = std::to_string(change.addr);
  std::string line = change.loop
                         ? texts::Format(texts::ChangeAtLoop, address, std::to_string(*change.loop))
                         : texts::Format(texts::ChangeAtDevice, address);
  line += ChangeLabel(change);
  if (!change.loop && (change.what == ChangeKind::Gone || change.what == ChangeKind::New)) {
    return line + " (" + (change.what == ChangeKind::Gone ? change.before : change.after).text +
           ")";
  }
  return line + ": " + valueText(change, change.before) + " → " + valueText(change, change.after);
}

void SurveyWindowModel::deviceChosen(int line) {
  if (line < 0 || line >= static_cast<int>(deviceChoices_.size())) return;
  const auto [address, loop] = deviceChoices_[static_cast<size_t>(line)];
  view_.chooseLoop(address, loop);
}

void SurveyWindowModel::changeChosen(int line) {
  if (!record_ || line < 0 || line >= static_cast<int>(changes_.size())) return;
  const RecordChange& change = changes_[static_cast<size_t>(line)];
  const auto device = std::find_if(record_->devices.begin(), record_->devices.end(),
                                   [&](const DeviceRecord& d) { return d.addr == change.addr; });
  // A device gone since has nothing to show.
  if (device == record_->devices.end()) return;
  const int loop = change.loop.value_or(0);
  view_.chooseLoop(change.addr,
                   loop >= 1 && loop <= static_cast<int>(device->loops.size()) ? loop : 0);
}

}  // namespace loopmon

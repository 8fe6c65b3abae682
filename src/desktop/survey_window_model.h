#pragma once
// The survey window without a toolkit: the survey of every device the last
// search found, step by step on the windows' bus thread with its progress and
// a stop; the devices surveyed with what their loops showed; the record it
// makes, saved as JSON with its HTML page beside it; and the changes since an
// earlier record. Each line of either list can choose its device and loop in
// the main window.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "record/compare.h"
#include "record/report.h"
#include "record/site_record.h"
#include "record/survey.h"

namespace loopmon {

class BusRunner;
class CoefficientsStore;

class SurveyWindowView {
 public:
  virtual ~SurveyWindowView() = default;
  // The survey button's text ("Обход", or "Стоп" while a survey runs) and
  // whether it takes a click (not while a stop waits for the bus).
  virtual void showSurveyButton(const std::string& text, bool enabled) = 0;
  // Save and compare take a click once a survey has made a record.
  virtual void showRecordControls(bool enabled) = 0;
  // `steps` of survey_form::ProgressSteps done.
  virtual void showProgress(const std::string& text, int steps) = 0;
  // The devices surveyed, each with its messages under it.
  virtual void showDevices(const std::vector<std::string>& lines) = 0;
  virtual void showChanges(const std::vector<std::string>& lines) = 0;
  // Where to save, offering `suggested`; nothing when the user cancels.
  virtual std::optional<std::string> askSavePath(const std::string& suggested) = 0;
  // Which earlier record to open; nothing when the user cancels.
  virtual std::optional<std::string> askRecordPath() = 0;
  // A box with the application's title, an error icon and one OK button.
  virtual void showMessage(const std::string& text) = 0;
  // The main window is to show the device at `address`, and `loop`'s row
  // (0: the device alone).
  virtual void chooseLoop(uint8_t address, int loop) = 0;
};

class SurveyWindowModel : private SurveyObserver {
 public:
  // `bus` and `store` outlive the model, and no follow-up of the model's
  // exchanges runs after it has gone (the bus thread ends first).
  // `decimalSeparator` unset: the user's locale separator.
  SurveyWindowModel(SurveyWindowView& view, BusRunner& bus, const CoefficientsStore& store,
                    std::optional<char> decimalSeparator = std::nullopt);
  ~SurveyWindowModel() override;
  SurveyWindowModel(const SurveyWindowModel&) = delete;
  SurveyWindowModel& operator=(const SurveyWindowModel&) = delete;

  // Input. Handlers that fail throw; the front end's error handler shows it.
  // Starts a survey of the devices in the session's table, or stops the one
  // that runs at the next step boundary.
  void surveyClicked();
  // The window closes: a running survey stops.
  void closed();
  void siteChanged(const std::string& text) { site_ = text; }
  void saveClicked();
  void compareClicked();
  void deviceChosen(int line);
  void changeChosen(int line);

  bool running() const { return running_; }
  // The record of the last survey that read every device it found.
  const std::optional<SiteRecord>& record() const { return record_; }
  const std::vector<RecordChange>& changes() const { return changes_; }
  // The list of devices as the window shows it.
  const std::vector<std::string>& deviceLines() const { return deviceLines_; }

 private:
  void begin(std::vector<uint8_t> addresses, std::string port);
  void step();
  void finished();
  void listDevices();
  char separator() const;
  std::string changeText(const RecordChange& change) const;
  std::string valueText(const RecordChange& change, const ChangeValue& value) const;

  // SurveyObserver.
  void Probing(int index, int count, uint8_t address) override;
  void Reading(int index, int count, const DeviceRecord& device) override;
  void Message(uint8_t address, int loop, const std::string& text) override;

  SurveyWindowView& view_;
  BusRunner& bus_;
  const CoefficientsStore& store_;
  std::optional<char> decimalSeparator_;
  std::unique_ptr<Survey> survey_;
  bool running_ = false;
  bool stopping_ = false;
  std::string site_;
  std::string time_;
  std::string port_;
  // What the loop table would have shown in boxes: listed under the device.
  struct Note {
    uint8_t address = 0;
    int loop = 0;
    std::string text;
  };
  std::vector<Note> messages_;
  // The list of devices, and what each line chooses: a device, or a loop of it.
  std::vector<std::string> deviceLines_;
  std::vector<std::pair<uint8_t, int>> deviceChoices_;
  std::optional<SiteRecord> record_;
  std::optional<SiteRecord> earlier_;
  std::vector<RecordChange> changes_;
};

}  // namespace loopmon

#include "desktop/calibration_model.h"

#include <iterator>

#include "common/number_text.h"
#include "desktop/texts.h"
#include "platform/system/locale_info.h"

namespace loopmon {

CalibrationModel::CalibrationModel(std::function<SelectedDevice()> selectedDevice,
                                   CoefficientsStore& store, std::optional<char> decimalSeparator)
    : selectedDevice_(std::move(selectedDevice)),
      store_(store),
      decimalSeparator_(decimalSeparator) {}

char CalibrationModel::separator() const {
  return decimalSeparator_ ? *decimalSeparator_ : userDecimalSeparator();
}

CalibrationFields CalibrationModel::activated(const CalibrationFields& current) const {
  const SelectedDevice device = selectedDevice_();
  const std::optional<CalibrationPoints> points =
      store_.LoadPoints(device.DevType, device.DevVersion);
  if (!points) return {};
  CalibrationFields fields{.typeEntry = current.typeEntry,
                           .version = FormatFixed(device.DevVersion / 100.0, 2, separator()),
                           .r1 = points->R1,
                           .acp1 = points->ACP1,
                           .r2 = points->R2,
                           .acp2 = points->ACP2};
  for (int entry = 0; entry < static_cast<int>(std::size(CalibrationTypes)); ++entry) {
    if (CalibrationTypes[entry].code == device.DevType) fields.typeEntry = entry;
  }
  return fields;
}

std::optional<std::string> CalibrationModel::fieldEdited(const std::string& text) const {
  // Under a point locale the text stays as it is.
  if (text.empty() || text.back() != '.' || separator() == '.') return std::nullopt;
  return text.substr(0, text.size() - 1) + separator();
}

std::vector<std::string> CalibrationModel::enter(const CalibrationFields& fields) {
  std::vector<std::string> failed;
  if (fields.typeEntry < 0 || fields.typeEntry >= static_cast<int>(std::size(CalibrationTypes))) {
    failed.emplace_back(texts::UnsupportedType);
  }
  if (fields.version.empty()) failed.emplace_back(texts::NoVersion);
  if (!failed.empty()) return failed;
  const SelectedDevice device = selectedDevice_();
  store_.Save(device.DevType, device.DevVersion, CalibrationTypes[fields.typeEntry].code,
              fields.version, {fields.acp1, fields.acp2, fields.r1, fields.r2});
  return {};
}

}  // namespace loopmon

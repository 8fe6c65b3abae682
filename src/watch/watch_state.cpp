#include "watch/watch_state.h"

#include <cstdio>
#include <functional>
#include <vector>

namespace loopmon {

namespace {

std::string number(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%.17g", value);
  return text;
}

// Builds one metric family: its heading lines, then its samples.
class Family {
 public:
  Family(std::string& out, const std::string& name, const char* type, const char* help,
         const char* unit = nullptr)
      : out_(out), name_(name) {
    out_ += "# TYPE " + name + " " + type + "\n";
    if (unit) out_ += "# UNIT " + name + " " + unit + "\n";
    out_ += "# HELP " + name + " " + help + "\n";
  }
  void sample(const std::string& labels, double value, const char* suffix = "") {
    out_ += name_ + suffix + "{" + labels + "} " + number(value) + "\n";
  }

 private:
  std::string& out_;
  std::string name_;
};

}  // namespace

std::string MetricLabelValue(const std::string& text) {
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '\\' || c == '"') {
      quoted += '\\';
      quoted += c;
    } else if (c == '\n') {
      quoted += "\\n";
    } else {
      quoted += c;
    }
  }
  return quoted + "\"";
}

void WatchState::setLoop(const std::string& line, uint8_t address, int loop,
                         const LoopFigures& figures) {
  const std::lock_guard lock(mutex_);
  loops_[{line, address, loop}] = figures;
}

void WatchState::setDevice(const std::string& line, uint8_t address, bool present) {
  const std::lock_guard lock(mutex_);
  devices_[{line, address}] = present;
}

void WatchState::setLine(const std::string& line, bool up) {
  const std::lock_guard lock(mutex_);
  lines_[line] = up;
}

void WatchState::addTraffic(const std::string& line, const TraceRecord& record) {
  const std::lock_guard lock(mutex_);
  traffic_[line].add(record);
}

DeviceTraffic WatchState::lineTraffic(const std::string& line) const {
  const std::lock_guard lock(mutex_);
  DeviceTraffic total;
  const auto found = traffic_.find(line);
  if (found == traffic_.end()) return total;
  for (const auto& [address, device] : found->second.devices()) {
    total.requests += device.requests;
    total.attempts += device.attempts;
    total.answers += device.answers;
    total.silences += device.silences;
    total.damaged += device.damaged;
    total.unsent += device.unsent;
    total.retries += device.retries;
    total.failed += device.failed;
  }
  return total;
}

std::string WatchState::openMetrics() const {
  const std::lock_guard lock(mutex_);
  const std::string site = "site=" + MetricLabelValue(site_);
  auto lineLabels = [&](const std::string& line) {
    return site + ",line=" + MetricLabelValue(line);
  };
  auto deviceLabels = [&](const std::string& line, uint8_t address) {
    return lineLabels(line) + ",addr=\"" + std::to_string(address) + "\"";
  };
  auto loopLabels = [&](const auto& key) {
    return deviceLabels(std::get<0>(key), std::get<1>(key)) + ",loop=\"" +
           std::to_string(std::get<2>(key)) + "\"";
  };
  std::string out;
  {
    Family family(out, "loopmon_loop_resistance_kohm", "gauge",
                  "The loop's resistance in kilo-ohms (none when open, short or unanswered).",
                  "kohm");
    for (const auto& [key, loop] : loops_) {
      if (loop.kiloOhms) family.sample(loopLabels(key), *loop.kiloOhms);
    }
  }
  {
    Family family(out, "loopmon_loop_adc", "gauge", "The loop's ADC reading (0 open, 255 short).");
    for (const auto& [key, loop] : loops_) {
      if (loop.adc) family.sample(loopLabels(key), *loop.adc);
    }
  }
  {
    Family family(out, "loopmon_loop_condition", "gauge",
                  "1 for the condition the loop is in, 0 for the others.");
    for (const auto& [key, loop] : loops_) {
      for (size_t index = 0; index < LoopConditionCount; ++index) {
        const auto condition = static_cast<LoopCondition>(index);
        const char* name = ConditionName(condition);
        if (!name) continue;
        family.sample(loopLabels(key) + ",condition=\"" + name + "\"",
                      loop.condition == condition ? 1 : 0);
      }
    }
  }
  {
    Family family(out, "loopmon_loop_condition_changes", "counter",
                  "Changes of the loop's condition since the watch started.");
    for (const auto& [key, loop] : loops_) {
      family.sample(loopLabels(key), static_cast<double>(loop.changes), "_total");
    }
  }
  {
    Family family(out, "loopmon_loop_flapping", "gauge",
                  "1 while the loop's condition changes often.");
    for (const auto& [key, loop] : loops_) family.sample(loopLabels(key), loop.flapping ? 1 : 0);
  }
  {
    Family family(out, "loopmon_device_present", "gauge", "1 while the device answers.");
    for (const auto& [key, present] : devices_) {
      family.sample(deviceLabels(key.first, key.second), present ? 1 : 0);
    }
  }
  {
    Family family(out, "loopmon_line_up", "gauge", "1 while the line's port is open.");
    for (const auto& [line, up] : lines_) family.sample(lineLabels(line), up ? 1 : 0);
  }
  struct Counter {
    const char* name;
    const char* help;
    uint64_t DeviceTraffic::*field;
  };
  for (const Counter& counter : {
           Counter{"loopmon_requests", "Requests sent to the device.", &DeviceTraffic::requests},
           Counter{"loopmon_answers", "Answers taken from the device.", &DeviceTraffic::answers},
           Counter{"loopmon_silences", "Attempts the device left unanswered.",
                   &DeviceTraffic::silences},
           Counter{"loopmon_damaged", "Damaged answers from the device.", &DeviceTraffic::damaged},
           Counter{"loopmon_retries", "Attempts after a request's first.", &DeviceTraffic::retries},
       }) {
    Family family(out, counter.name, "counter", counter.help);
    for (const auto& [line, counters] : traffic_) {
      for (const auto& [address, device] : counters.devices()) {
        family.sample(deviceLabels(line, address), static_cast<double>(device.*counter.field),
                      "_total");
      }
    }
  }
  {
    Family family(out, "loopmon_answer_median_seconds", "gauge",
                  "The median time from a request's end to its answer.", "seconds");
    for (const auto& [line, counters] : traffic_) {
      for (const auto& [address, device] : counters.devices()) {
        if (const auto median = device.medianAnswerMs()) {
          family.sample(deviceLabels(line, address), *median / 1000);
        }
      }
    }
  }
  out += "# EOF\n";
  return out;
}

}  // namespace loopmon

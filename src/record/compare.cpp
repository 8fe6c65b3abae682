#include "record/compare.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>

#include "common/number_text.h"
#include "record/json.h"
#include "session/session.h"

namespace loopmon {
namespace {

ChangeValue number(std::string text) {
  return {ChangeValue::Kind::Number, std::move(text)};
}

ChangeValue textOf(const std::optional<std::string>& text) {
  if (!text) return {};
  return {ChangeValue::Kind::Text, *text};
}

ChangeValue versionOf(uint8_t version) {
  return number(FormatFixed(version / 100.0, 2, '.'));
}

// What the ADC view shows of a loop: its resistance, or its text.
ChangeValue adcViewOf(const LoopRecord& loop) {
  if (loop.kohm) return number(FormatFixed(*loop.kohm, 1, '.'));
  return textOf(loop.text);
}

// The conditions a loop can become or stop being, by the texts the table
// shows for them; "" for any other reading.
std::string conditionOf(const LoopRecord& loop) {
  if (loop.text == "false") return "unanswered";
  if (loop.text == "Обрыв") return "open";
  if (loop.text == "КЗ") return "short";
  return "";
}

// The records keep resistances to a tenth of a kilo-ohm, so a reading exactly
// at the tolerance must not pass for beyond it through binary rounding.
bool moved(double before, double after, double tolerancePercent) {
  const double limit = std::abs(before) * tolerancePercent / 100;
  return std::abs(after - before) > limit + 1e-9 * std::max(1.0, std::abs(before));
}

// The entries of two lists side by side by their number: either side may be
// missing.
template <class Entry>
using SideBySide = std::map<int, std::pair<const Entry*, const Entry*>>;

template <class Entry, class NumberOf>
SideBySide<Entry> sideBySide(const std::vector<Entry>& before, const std::vector<Entry>& after,
                             NumberOf numberOf) {
  SideBySide<Entry> pairs;
  for (const Entry& entry : before) pairs[numberOf(entry)].first = &entry;
  for (const Entry& entry : after) pairs[numberOf(entry)].second = &entry;
  return pairs;
}

class Comparison {
 public:
  explicit Comparison(double tolerancePercent) : tolerancePercent_(tolerancePercent) {}

  void devices(const SiteRecord& before, const SiteRecord& after) {
    const auto byAddress =
        sideBySide(before.devices, after.devices, [](const DeviceRecord& d) { return d.addr; });
    for (const auto& [address, pair] : byAddress) {
      const auto [old, now] = pair;
      const auto addr = static_cast<uint8_t>(address);
      if (now == nullptr) {
        add(addr, std::nullopt, "gone", textOf(old->name), {});
      } else if (old == nullptr) {
        add(addr, std::nullopt, "new", {}, textOf(now->name));
      } else if (old->type != now->type) {
        add(addr, std::nullopt, "type", number(std::to_string(old->type)),
            number(std::to_string(now->type)));
      } else {
        if (old->version != now->version) {
          add(addr, std::nullopt, "version", versionOf(old->version), versionOf(now->version));
        }
        loops(*old, *now);
      }
    }
  }

  std::vector<RecordChange> changes;

 private:
  void add(uint8_t addr, std::optional<int> loop, std::string what, ChangeValue before,
           ChangeValue after) {
    changes.push_back({addr, loop, std::move(what), std::move(before), std::move(after)});
  }

  void loops(const DeviceRecord& before, const DeviceRecord& after) {
    const auto byNumber =
        sideBySide(before.loops, after.loops, [](const LoopRecord& l) { return l.loop; });
    for (const auto& [number, pair] : byNumber) {
      const auto [old, now] = pair;
      if (now == nullptr) {
        add(after.addr, number, "gone", adcViewOf(*old), {});
      } else if (old == nullptr) {
        add(after.addr, number, "new", {}, adcViewOf(*now));
      } else {
        loop(after.addr, *old, *now);
      }
    }
  }

  void loop(uint8_t addr, const LoopRecord& before, const LoopRecord& after) {
    const std::string was = conditionOf(before);
    const std::string is = conditionOf(after);
    if (was != is) {
      add(addr, after.loop, is.empty() ? was : is, adcViewOf(before), adcViewOf(after));
    } else if (before.kohm && after.kohm) {
      if (moved(*before.kohm, *after.kohm, tolerancePercent_)) {
        add(addr, after.loop, "resistance", adcViewOf(before), adcViewOf(after));
      }
    } else if (adcViewOf(before) != adcViewOf(after)) {
      add(addr, after.loop, "text", adcViewOf(before), adcViewOf(after));
    }
    if (before.state != after.state) {
      add(addr, after.loop, "state", textOf(before.state), textOf(after.state));
    }
  }

  double tolerancePercent_;
};

std::string shown(const ChangeValue& value, char separator) {
  switch (value.kind) {
    case ChangeValue::Kind::None:
      return "none";
    case ChangeValue::Kind::Text:
      return "\"" + value.text + "\"";
    case ChangeValue::Kind::Number:
      break;
  }
  std::string text = value.text;
  std::replace(text.begin(), text.end(), '.', separator);
  return text;
}

std::string jsonOf(const ChangeValue& value) {
  switch (value.kind) {
    case ChangeValue::Kind::None:
      return "null";
    case ChangeValue::Kind::Text:
      return jsonString(value.text);
    case ChangeValue::Kind::Number:
      break;
  }
  return value.text;
}

}  // namespace

std::vector<RecordChange> CompareRecords(const SiteRecord& before, const SiteRecord& after,
                                         double tolerancePercent) {
  Comparison comparison(tolerancePercent);
  comparison.devices(before, after);
  return std::move(comparison.changes);
}

std::string ChangeLine(const RecordChange& change, char separator) {
  std::string line = "address " + std::to_string(change.addr);
  if (change.loop) line += " loop " + std::to_string(*change.loop);
  line += ": ";
  if (!change.loop && (change.what == "gone" || change.what == "new")) {
    const ChangeValue& name = change.what == "gone" ? change.before : change.after;
    return line + change.what + " (" + name.text + ")";
  }
  if (change.what == "type") {
    const auto named = [](const ChangeValue& code) {
      return code.text + " (" + DeviceTypeName(static_cast<uint8_t>(std::stoi(code.text))) + ")";
    };
    return line + "type " + named(change.before) + " -> " + named(change.after);
  }
  line +=
      change.what + " " + shown(change.before, separator) + " -> " + shown(change.after, separator);
  if (change.what == "resistance") {
    line += " kOhm";
    const double before = StrToFloat(change.before.text, '.');
    if (before != 0) {
      char percent[32];
      std::snprintf(percent, sizeof percent, " (%+.0f %%)",
                    (StrToFloat(change.after.text, '.') - before) / std::abs(before) * 100);
      line += percent;
    }
  }
  return line;
}

const char* ChangeLabel(const RecordChange& change) {
  const std::string& what = change.what;
  if (what == "gone") return change.loop ? "нет ШС" : "нет прибора";
  if (what == "new") return change.loop ? "новый ШС" : "новый прибор";
  if (what == "type") return "другой тип";
  if (what == "version") return "другая версия";
  if (what == "resistance") return "сопротивление";
  if (what == "open") return "Обрыв";
  if (what == "short") return "КЗ";
  if (what == "unanswered") return "нет ответа";
  if (what == "state") return "состояние";
  return "показание";
}

std::string ChangeJson(const RecordChange& change) {
  return "{\"addr\":" + std::to_string(change.addr) +
         ",\"loop\":" + (change.loop ? std::to_string(*change.loop) : "null") +
         ",\"what\":" + jsonString(change.what) + ",\"old\":" + jsonOf(change.before) +
         ",\"new\":" + jsonOf(change.after) + "}";
}

}  // namespace loopmon

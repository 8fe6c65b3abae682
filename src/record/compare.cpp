#include "record/compare.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>

#include "common/number_text.h"
#include "common/translation.h"
#include "record/json.h"
#include "session/device_names.h"

namespace loopmon {
namespace {

ChangeValue number(double value, int decimals) {
  return {ChangeValue::Kind::Number, FormatFixed(value, decimals, '.'), value};
}

ChangeValue textOf(const std::optional<std::string>& text) {
  if (!text) return {};
  return {ChangeValue::Kind::Text, *text};
}

ChangeValue versionOf(uint8_t version) {
  return number(version / 100.0, 2);
}

// What the ADC view shows of a loop: its resistance, or its text.
ChangeValue adcViewOf(const LoopRecord& loop) {
  if (loop.kohm) return number(*loop.kohm, 1);
  return textOf(loop.text);
}

// The conditions a loop can become or stop being, as changes; none for any
// other reading.
std::optional<ChangeKind> conditionOf(const LoopRecord& loop) {
  switch (loop.condition) {
    case LoopCondition::Open:
      return ChangeKind::Open;
    case LoopCondition::Short:
      return ChangeKind::Short;
    case LoopCondition::Unanswered:
      return ChangeKind::Unanswered;
    case LoopCondition::Normal:
    case LoopCondition::Alarm:
    case LoopCondition::NotShown:
      break;
  }
  return std::nullopt;
}

// Older records keep resistances to a tenth of a kilo-ohm, so a reading
// exactly at the tolerance must not pass for beyond it through binary
// rounding. Everything is scaled by the earlier value (at least 1) first:
// the tolerance's share of a huge resistance must not overflow to infinity,
// which no difference exceeds.
bool moved(double before, double after, double tolerancePercent) {
  const double scale = std::max(1.0, std::abs(before));
  const double difference = std::abs(after / scale - before / scale);
  return difference > std::abs(before) / scale * (tolerancePercent / 100) + 1e-9;
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
        add(addr, std::nullopt, ChangeKind::Gone, textOf(old->name), {});
      } else if (old == nullptr) {
        add(addr, std::nullopt, ChangeKind::New, {}, textOf(now->name));
      } else if (old->type != now->type) {
        add(addr, std::nullopt, ChangeKind::Type, number(old->type, 0), number(now->type, 0));
      } else {
        if (old->version != now->version) {
          add(addr, std::nullopt, ChangeKind::Version, versionOf(old->version),
              versionOf(now->version));
        }
        loops(*old, *now);
      }
    }
  }

  std::vector<RecordChange> changes;

 private:
  void add(uint8_t addr, std::optional<int> loop, ChangeKind what, ChangeValue before,
           ChangeValue after) {
    changes.push_back({addr, loop, what, std::move(before), std::move(after)});
  }

  void loops(const DeviceRecord& before, const DeviceRecord& after) {
    const auto byNumber =
        sideBySide(before.loops, after.loops, [](const LoopRecord& l) { return l.loop; });
    for (const auto& [number, pair] : byNumber) {
      const auto [old, now] = pair;
      if (now == nullptr) {
        add(after.addr, number, ChangeKind::Gone, adcViewOf(*old), {});
      } else if (old == nullptr) {
        add(after.addr, number, ChangeKind::New, {}, adcViewOf(*now));
      } else {
        loop(after.addr, *old, *now);
      }
    }
  }

  void loop(uint8_t addr, const LoopRecord& before, const LoopRecord& after) {
    const std::optional<ChangeKind> was = conditionOf(before);
    const std::optional<ChangeKind> is = conditionOf(after);
    if (was != is) {
      add(addr, after.loop, is ? *is : *was, adcViewOf(before), adcViewOf(after));
    } else if (before.kohm && after.kohm) {
      if (moved(*before.kohm, *after.kohm, tolerancePercent_)) {
        add(addr, after.loop, ChangeKind::Resistance, adcViewOf(before), adcViewOf(after));
      }
    } else if (adcViewOf(before) != adcViewOf(after)) {
      add(addr, after.loop, ChangeKind::Text, adcViewOf(before), adcViewOf(after));
    }
    if (before.state != after.state) {
      add(addr, after.loop, ChangeKind::State, textOf(before.state), textOf(after.state));
    }
  }

  double tolerancePercent_;
};

}  // namespace

namespace {

std::string escapedText(const std::string& text, bool quotes) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    // U+0080..U+009F: C2 80..C2 9F in UTF-8.
    const bool c1 = c == 0xC2 && i + 1 < text.size() &&
                    static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
                    static_cast<unsigned char>(text[i + 1]) <= 0x9F;
    if ((quotes && c == '"') || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c < 0x20 || c == 0x7F || c1) {
      const unsigned code = c1 ? static_cast<unsigned char>(text[++i]) : c;
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", code);
      out += escaped;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

}  // namespace

std::string TerminalText(const std::string& text) {
  return escapedText(text, true);
}

std::string TableText(const std::string& text) {
  return escapedText(text, false);
}

namespace {

std::string shown(const ChangeValue& value, char separator) {
  switch (value.kind) {
    case ChangeValue::Kind::None:
      return tr("none");
    case ChangeValue::Kind::Text:
      // Appended, not "\"" + text: GCC 12 warns falsely of a huge copy there.
      return std::string(1, '"').append(TerminalText(value.text)).append(1, '"');
    case ChangeValue::Kind::Number:
      break;
  }
  std::string text = value.text;
  std::replace(text.begin(), text.end(), '.', separator);
  return text;
}

Json jsonOf(const RecordChange& change, const ChangeValue& value) {
  switch (value.kind) {
    case ChangeValue::Kind::None:
      return nullptr;
    case ChangeValue::Kind::Text:
      return value.text;
    case ChangeValue::Kind::Number:
      break;
  }
  if (change.what == ChangeKind::Type) return static_cast<int>(value.number);
  return value.number;
}

}  // namespace

const char* ChangeKindName(ChangeKind kind) {
  switch (kind) {
    case ChangeKind::Gone:
      return "gone";
    case ChangeKind::New:
      return "new";
    case ChangeKind::Type:
      return "type";
    case ChangeKind::Version:
      return "version";
    case ChangeKind::Resistance:
      return "resistance";
    case ChangeKind::Open:
      return "open";
    case ChangeKind::Short:
      return "short";
    case ChangeKind::Unanswered:
      return "unanswered";
    case ChangeKind::Text:
      return "text";
    case ChangeKind::State:
      break;
  }
  return "state";
}

std::vector<RecordChange> CompareRecords(const SiteRecord& before, const SiteRecord& after,
                                         double tolerancePercent) {
  Comparison comparison(tolerancePercent);
  comparison.devices(before, after);
  return std::move(comparison.changes);
}

std::string ChangeLine(const RecordChange& change, char separator) {
  const std::string addr = std::to_string(change.addr);
  std::string line = change.loop
                         ? trWith("address %s loop %s: ", {addr, std::to_string(*change.loop)})
                         : trWith("address %s: ", {addr});
  const std::string what = tr(ChangeKindName(change.what));
  if (!change.loop && (change.what == ChangeKind::Gone || change.what == ChangeKind::New)) {
    const ChangeValue& name = change.what == ChangeKind::Gone ? change.before : change.after;
    return line + what + " (" + TerminalText(name.text) + ")";
  }
  if (change.what == ChangeKind::Type) {
    const auto named = [](const ChangeValue& code) {
      return code.text + " (" + DeviceTypeName(static_cast<uint8_t>(code.number)) + ")";
    };
    return line + tr("type") + " " + named(change.before) + " -> " + named(change.after);
  }
  line += what + " " + shown(change.before, separator) + " -> " + shown(change.after, separator);
  if (change.what != ChangeKind::Resistance) return line;
  line.append(" ").append(tr("kOhm"));
  if (change.before.number != 0) {
    char percent[32];
    std::snprintf(
        percent, sizeof percent, " (%+.0f %%)",
        (change.after.number - change.before.number) / std::abs(change.before.number) * 100);
    line += percent;
  }
  return line;
}

const char* ChangeLabel(const RecordChange& change) {
  switch (change.what) {
    case ChangeKind::Gone:
      return change.loop ? "нет ШС" : "нет прибора";
    case ChangeKind::New:
      return change.loop ? "новый ШС" : "новый прибор";
    case ChangeKind::Type:
      return "другой тип";
    case ChangeKind::Version:
      return "другая версия";
    case ChangeKind::Resistance:
      return "сопротивление";
    case ChangeKind::Open:
      return "Обрыв";
    case ChangeKind::Short:
      return "КЗ";
    case ChangeKind::Unanswered:
      return "нет ответа";
    case ChangeKind::State:
      return "состояние";
    case ChangeKind::Text:
      break;
  }
  return "показание";
}

std::string ChangeJson(const RecordChange& change) {
  const Json json{{"addr", change.addr},
                  {"loop", change.loop ? Json(*change.loop) : Json()},
                  {"what", ChangeKindName(change.what)},
                  {"old", jsonOf(change, change.before)},
                  {"new", jsonOf(change, change.after)}};
  JsonStyle style;
  if (change.what == ChangeKind::Version) style.fixed = {{"old", 2}, {"new", 2}};
  return JsonText(json, style);
}

}  // namespace loopmon

#pragma once
// What changed on a site between two records: devices gone, new, or of
// another type or version; loops whose resistance moved by more than a
// tolerance; loops that became or stopped being open, short or unanswered;
// other texts of the ADC view and state texts that changed.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "record/site_record.h"

namespace loopmon {

// One side of a change: nothing, a number (written with "."), or a text.
struct ChangeValue {
  enum class Kind { None, Number, Text };
  Kind kind = Kind::None;
  std::string text;

  bool operator==(const ChangeValue&) const = default;
};

struct RecordChange {
  uint8_t addr = 0;
  // Unset for a change of the whole device.
  std::optional<int> loop;
  // "gone", "new" (a device, or a loop), "type", "version", "resistance",
  // "open", "short", "unanswered", "text" (another text of the ADC view),
  // "state".
  std::string what;
  ChangeValue before;
  ChangeValue after;

  bool operator==(const RecordChange&) const = default;
};

inline constexpr double DefaultTolerancePercent = 10;

// The changes from `before` to `after`, by address and loop. A resistance
// counts as moved when it differs from the earlier one by more than
// `tolerancePercent` of it; exactly at the tolerance it has not moved. A
// device of another type is one change; its loops are not compared.
std::vector<RecordChange> CompareRecords(const SiteRecord& before, const SiteRecord& after,
                                         double tolerancePercent = DefaultTolerancePercent);

// A change as one line for a reader, numbers with `separator`:
// "address 5 loop 3: resistance 3.1 -> 4.0 kOhm (+29 %)".
std::string ChangeLine(const RecordChange& change, char separator);

// What kind of change it is in the windows' words, for a list of changes
// ("сопротивление", "Обрыв", "новый прибор", ...).
const char* ChangeLabel(const RecordChange& change);

// A change as one JSON object: addr, loop (null for a whole device), what, old, new.
std::string ChangeJson(const RecordChange& change);

}  // namespace loopmon

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

// One side of a change: nothing, a number, or a text. A number's text is
// as a reader sees it, written with "." (a resistance to a tenth, a version
// to a hundredth); `number` holds it as measured.
struct ChangeValue {
  enum class Kind { None, Number, Text };
  Kind kind = Kind::None;
  std::string text;
  double number = 0;

  bool operator==(const ChangeValue&) const = default;
};

// What changed: a device or a loop gone or new, a device's type or version,
// a loop's resistance beyond the tolerance, a loop that became or stopped
// being open, short or unanswered, another text of the ADC view, a state.
enum class ChangeKind : uint8_t {
  Gone,
  New,
  Type,
  Version,
  Resistance,
  Open,
  Short,
  Unanswered,
  Text,
  State
};

// The kind's word in loopctl's lines and JSON: "gone", "new", "type",
// "version", "resistance", "open", "short", "unanswered", "text", "state".
const char* ChangeKindName(ChangeKind kind);

struct RecordChange {
  uint8_t addr = 0;
  // Unset for a change of the whole device.
  std::optional<int> loop;
  ChangeKind what = ChangeKind::Gone;
  ChangeValue before;
  ChangeValue after;

  bool operator==(const RecordChange&) const = default;
};

inline constexpr double DefaultTolerancePercent = 10;

// The changes from `before` to `after`, by address and loop. A resistance
// counts as moved when it differs from the earlier one by more than
// `tolerancePercent` of it; exactly at the tolerance it has not moved, also
// for the tenths older records keep. A
// device of another type is one change; its loops are not compared.
std::vector<RecordChange> CompareRecords(const SiteRecord& before, const SiteRecord& after,
                                         double tolerancePercent = DefaultTolerancePercent);

// A change as one line for a reader, numbers with `separator`:
// "address 5 loop 3: resistance 3.1 -> 4.0 kOhm (+29 %)". The record's texts
// are shown with their control characters escaped ("\n", "\u001b"), so a
// record can neither drive the terminal nor forge a line of its own.
std::string ChangeLine(const RecordChange& change, char separator);

// A record's text for a terminal: quotes, backslashes and every control
// character (C0, DEL, C1) escaped, everything else as it is.
std::string TerminalText(const std::string& text);
// A record's text for a cell of a tab-separated table: as TerminalText, but
// quotes as they are, for the cell is not quoted.
std::string TableText(const std::string& text);

// What kind of change it is in the windows' words, for a list of changes
// ("сопротивление", "Обрыв", "новый прибор", ...).
const char* ChangeLabel(const RecordChange& change);

// A change as one JSON object: addr, loop (null for a whole device), what,
// old, new; a resistance as measured.
std::string ChangeJson(const RecordChange& change);

}  // namespace loopmon

// Site records as anyone may have edited them: a file is either refused with
// its fault or taken, and a record taken is written back as one that reads
// the same.

#include "fuzz_check.h"
#include "record/site_record.h"

using namespace loopmon;
using fuzz::require;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  SiteRecord record;
  try {
    record = ParseRecord(fuzz::textOf(data, size));
  } catch (const RecordError&) {
    return 0;
  }
  const std::string written = RecordJson(record);
  SiteRecord again;
  try {
    again = ParseRecord(written);
  } catch (const RecordError&) {
    require(false, "a record written reads back");
  }
  // Resistances are written to a tenth, as the loop table shows them; the
  // rest reads back as it was.
  require(again.devices.size() == record.devices.size(), "every device reads back");
  for (size_t d = 0; d < record.devices.size(); ++d) {
    std::vector<LoopRecord>& loops = record.devices[d].loops;
    require(again.devices[d].loops.size() == loops.size(), "every loop reads back");
    for (size_t l = 0; l < loops.size(); ++l) {
      require(loops[l].kohm.has_value() == again.devices[d].loops[l].kohm.has_value(),
              "a resistance reads back");
      loops[l].kohm = again.devices[d].loops[l].kohm;
    }
  }
  require(again == record, "a record written reads back the same");
  require(RecordJson(again) == written, "a record read back is written alike");
  return 0;
}

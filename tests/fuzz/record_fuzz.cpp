// Site records as anyone may have edited them: a file is either refused with
// its fault or taken, and a record taken is written back as one that reads
// the same, resistances to the last bit.

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
  require(again == record, "a record written reads back the same");
  require(RecordJson(again) == written, "a record read back is written alike");
  return 0;
}

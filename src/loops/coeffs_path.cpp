#include "loops/coeffs.h"
#include "platform/program_folder.h"

namespace loopmon {

// Apart from the store so that a store on an explicit path does not pull in
// the program folder lookup.
std::string CoefficientsFilePath() {
  return programFolder() + "ohmgauge.kft";
}

}  // namespace loopmon

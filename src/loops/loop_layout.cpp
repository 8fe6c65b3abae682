#include "loops/loop_layout.h"

namespace loopmon {

LoopLayout LoopLayoutFor(uint16_t deviceType) {
  switch (deviceType) {
    case 1:
    case 2:
    case 11:
      return {.rows = 21};
    case 4:
      return {.rows = 5};
    case LineControllerType:
      return {.rows = 128, .scrollBar = true, .markedFrom = 2};
    default:
      return {};
  }
}

}  // namespace loopmon

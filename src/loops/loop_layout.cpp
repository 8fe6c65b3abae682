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

const LoopColumns& LoopColumnsFor(bool adcView) {
  static constexpr LoopColumns Adc{{"Номер ШС", "Показание АЦП", "R кОм"}, {90, 120, 77, 90}};
  static constexpr LoopColumns State{{"Номер ШС", "Состояние ШС", ""}, {144, 144, 144, 144}};
  return adcView ? Adc : State;
}

}  // namespace loopmon

#include "platform/simulator/simulator_link.h"

namespace loopmon {

const char* simulatorMethodName(SimulatorSide side) {
  return side == SimulatorSide::Direct ? "Transceiving" : "Obmen";
}

}  // namespace loopmon

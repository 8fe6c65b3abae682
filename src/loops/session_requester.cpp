#include "loops/reading_cycle.h"
#include "session/session.h"

namespace loopmon {

bool SessionRequester::DirectRequest(const Bytes& request, uint8_t mode) {
  return session_.DirectRequest(request, mode);
}

const Bytes& SessionRequester::LastAnswer() const {
  return session_.LastAnswer;
}

}  // namespace loopmon

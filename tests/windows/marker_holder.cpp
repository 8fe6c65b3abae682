// Holds a marker for the cross-process proofs:
//   marker_holder MARKER READY_EVENT RELEASE_EVENT
// creates MARKER, sets READY_EVENT, and ends once RELEASE_EVENT is set
// (or when it is killed). Exit code 3 means the marker already existed.

#include "child_process.h"
#include "platform/named_marker.h"

int main(int argc, char** argv) {
  if (argc != 4) return 2;
  bool alreadyExisted = false;
  auto hold = loopmon::makeMarkerService()->create(argv[1], alreadyExisted);
  if (!hold) return 1;
  loopmon::test::NamedEvent ready(argv[2]);
  loopmon::test::NamedEvent release(argv[3]);
  ready.set();
  release.wait(INFINITE);
  return alreadyExisted ? 3 : 0;
}

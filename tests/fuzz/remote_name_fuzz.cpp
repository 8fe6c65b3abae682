// Remote line names as a user types them: a parsed name's text parses back to
// the same address.

#include "fuzz_check.h"
#include "platform/remote/remote_line.h"
#include "platform/serial/port_names.h"

using namespace loopmon;
using fuzz::require;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string name = fuzz::textOf(data, size);
  std::string problem;
  const std::optional<RemoteLineAddress> address = parseRemoteLine(name, problem);
  require(address.has_value() == problem.empty(), "a name parses or says why not");
  if (!address) return 0;
  require(isRemoteLineName(name), "a parsed name is a remote line name");
  require(!address->host.empty() && address->port != 0, "a parsed name has a host and a port");
  const std::optional<RemoteLineAddress> again = parseRemoteLine(address->text(), problem);
  require(again && again->protocol == address->protocol && again->host == address->host &&
              again->port == address->port,
          "a parsed name's text parses back to the same name");
  return 0;
}

#include "cli/send_command.h"

#include <cstdio>
#include <string>

#include "cli/bus_opening.h"
#include "cli/output.h"
#include "cli/scan_command.h"
#include "common/translation.h"
#include "transport/frame.h"

namespace loopmon::cli {

int send(const Arguments& args, TraceOutput* trace) {
  const PortChoice port = parsePort(args.required("--port"));
  Bytes request;
  for (const std::string& word : args.plain()) {
    request.push_back(static_cast<uint8_t>(parseNumber(word, 0, 255, "byte")));
  }
  if (request.size() < 5) {
    throw UsageError(
        tr("a request has at least 5 bytes: address, length, modifier, command, data"));
  }
  if (request.size() > MaxFrameBytes - 1) {
    throw UsageError("request too long: " + std::to_string(request.size()) +
                     " bytes, at most 254 (with the checksum a frame has 255)");
  }
  auto session = openBus(port, trace);
  if (request[FrameOffset::Address] == 0) {
    // Every device hears it and none answers: send it once, awaiting nothing,
    // instead of showing the all-zero stand-in answer the exchange keeps.
    session->DirectRequest(request, 0);
    std::printf("%s", tr("address 0 is a broadcast: nothing is read back\n"));
    return 0;
  }
  if (!session->DirectRequest(request, 1)) {
    checkLine(*session);
    throw CliError(
        trWith("no answer from address %s", {std::to_string(request[FrameOffset::Address])}));
  }
  const Bytes& answer = session->LastAnswer();
  printLine(stdout, frameHex(answer));
  std::string data;
  // Appended piece by piece: GCC 12 warns falsely of a huge copy in " " + text.
  for (size_t i = FrameOffset::AnswerData; i + 1 < answer.size(); ++i)
    data.append(" ").append(std::to_string(answer[i]));
  printText(stdout, "address %d, length %d, code %d, data%s, checksum %d\n",
            answer[FrameOffset::Address], answer[FrameOffset::Length], answer[FrameOffset::Code],
            data.c_str(), answer.back());
  return 0;
}

}  // namespace loopmon::cli

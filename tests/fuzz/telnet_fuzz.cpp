// Bytes from a telnet server in pieces as the network hands them over: the
// same data, replies and COM port answers wherever the pieces split, replies
// that are only negotiation answers, no more data than came in, and no
// subnegotiation that runs on.

#include "fuzz_check.h"
#include "platform/remote/telnet_codec.h"

using namespace loopmon;
using namespace loopmon::telnet;
using fuzz::require;

namespace {

struct Outcome {
  TelnetBytes data;
  TelnetBytes replies;
  TelnetBytes comPortAnswers;
  bool broken = false;
  TelnetCodec::Option comPort = TelnetCodec::Option::Pending;
  TelnetCodec::Option binary = TelnetCodec::Option::Pending;
  bool operator==(const Outcome&) const = default;
};

Outcome receive(TelnetCodec& codec, const TelnetBytes& input, size_t piece) {
  Outcome outcome;
  for (size_t at = 0; at < input.size(); at += piece) {
    codec.receive(input.data() + at, std::min(piece, input.size() - at), outcome.data,
                  outcome.replies);
    const TelnetBytes answers = codec.takeComPortAnswers();
    outcome.comPortAnswers.insert(outcome.comPortAnswers.end(), answers.begin(), answers.end());
  }
  outcome.broken = codec.broken();
  outcome.comPort = codec.comPort();
  outcome.binary = codec.binary();
  return outcome;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  // The first byte sets the size of the pieces.
  const size_t piece = data[0] % 31 + 1;
  const TelnetBytes input(data + 1, data + size);

  TelnetCodec whole;
  TelnetCodec split;
  const Outcome once = receive(whole, input, input.size() + 1);
  require(once == receive(split, input, piece),
          "any split gives the same data, replies and COM port answers");
  for (const uint8_t code : once.comPortAnswers) {
    require(code >= ServerAnswerOffset, "COM port answers are the server's codes only");
  }
  require(once.data.size() <= input.size(), "data never exceeds the input");
  require(once.replies.size() % 3 == 0, "replies are whole commands");
  for (size_t i = 0; i < once.replies.size(); i += 3) {
    require(once.replies[i] == Iac && once.replies[i + 1] >= Will,
            "replies are only IAC WILL, WONT, DO or DONT with an option");
  }

  // Whatever came before, two IAC SE end any command, and a subnegotiation
  // opened then breaks the codec once it runs past its bound.
  TelnetBytes runaway{Iac, Se, Iac, Se, Iac, Sb};
  runaway.resize(runaway.size() + MaxSubnegotiationBytes + 1, 0);
  TelnetBytes ignored;
  whole.receive(runaway.data(), runaway.size(), ignored, ignored);
  require(whole.broken(), "a subnegotiation stays bounded");
  return 0;
}

// The telnet side of a remote line without a socket: what goes back to the
// server, and the commands on the wire. What reaches the line, wherever the
// network splits it, is the telnet fuzz target's; the remote line's tests
// carry data with doubled 255s and a COM port answer through it.

#include <gtest/gtest.h>

#include "platform/remote/telnet_codec.h"

using namespace loopmon;
using namespace loopmon::telnet;

namespace {

TEST(TelnetCodec, NegotiationAnswersOnlyChangesAndDeclinesForeignOptions) {
  using Option = TelnetCodec::Option;
  struct Case {
    const char* what;
    TelnetBytes fromServer;
    TelnetBytes replies;
    Option comPort;
    Option binary;
  };
  const Case cases[] = {
      {"everything taken: no answers to answers",
       {Iac, Do, BinaryOption, Iac, Will, BinaryOption, Iac, Do, ComPortOption},
       {},
       Option::Accepted,
       Option::Accepted},
      {"binary one way only",
       {Iac, Do, BinaryOption, Iac, Wont, BinaryOption},
       {},
       Option::Pending,
       Option::Refused},
      {"taken, then withdrawn: the withdrawal is confirmed",
       {Iac, Do, ComPortOption, Iac, Dont, ComPortOption},
       {Iac, Wont, ComPortOption},
       Option::Refused,
       Option::Pending},
      {"the server's own COM port side is declined",
       {Iac, Will, ComPortOption},
       {Iac, Dont, ComPortOption},
       Option::Pending,
       Option::Pending},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TelnetCodec codec;
    TelnetBytes data, replies;
    codec.receive(c.fromServer.data(), c.fromServer.size(), data, replies);
    EXPECT_EQ(replies, c.replies);
    EXPECT_EQ(codec.comPort(), c.comPort);
    EXPECT_EQ(codec.binary(), c.binary);
  }
}

// A subnegotiation is taken up to its bound and breaks the codec one byte
// beyond it, whether or not its end ever comes.
TEST(TelnetCodec, SubnegotiationBoundAtItsExactLimit) {
  struct Case {
    size_t bytes;  // after IAC SB, its closing IAC counted
    bool broken;
  };
  const Case cases[] = {{MaxSubnegotiationBytes - 1, false},
                        {MaxSubnegotiationBytes, false},
                        {MaxSubnegotiationBytes + 1, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bytes);
    TelnetBytes stream{Iac, Sb, ComPortOption, PurgeData + ServerAnswerOffset};
    stream.resize(2 + c.bytes - 1, 0);
    stream.insert(stream.end(), {Iac, Se, 7});
    TelnetCodec codec;
    TelnetBytes data, replies;
    codec.receive(stream.data(), stream.size(), data, replies);
    EXPECT_EQ(codec.broken(), c.broken);
    if (!c.broken) {
      EXPECT_EQ(codec.takeComPortAnswers(), TelnetBytes{PurgeData + ServerAnswerOffset});
      EXPECT_EQ(data, TelnetBytes{7}) << "the line's data after it";
    }
  }
}

TEST(TelnetCodec, OutgoingBytesAndCommands) {
  const TelnetBytes frame{5, Iac, 0, Iac, Iac};
  EXPECT_EQ(TelnetCodec::escape(frame.data(), frame.size()),
            (TelnetBytes{5, Iac, Iac, 0, Iac, Iac, Iac, Iac}));
  EXPECT_EQ(TelnetCodec::baudRateCommand(9600),
            (TelnetBytes{Iac, Sb, ComPortOption, SetBaudRate, 0, 0, 0x25, 0x80, Iac, Se}));
  EXPECT_EQ(TelnetCodec::baudRateCommand(0x0100FF),
            (TelnetBytes{Iac, Sb, ComPortOption, SetBaudRate, 0, 1, 0, Iac, Iac, Iac, Se}));
}

}  // namespace

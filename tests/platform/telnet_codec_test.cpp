// The telnet side of a remote line, byte by byte: what reaches the line, what
// goes back to the server, and the COM port commands on the wire.

#include <gtest/gtest.h>

#include "platform/telnet_codec.h"

using namespace loopmon;
using namespace loopmon::telnet;

namespace {

constexpr uint8_t Echo = 1;
constexpr uint8_t TerminalType = 24;
constexpr uint8_t Nop = 241;

TEST(TelnetCodec, DataBytesComeOutWithCommandsTakenAway) {
  struct Case {
    const char* what;
    TelnetBytes in;
    TelnetBytes data;
  };
  const Case cases[] = {
      {"plain bytes", {5, 6, 0, 1, 0x3C, 0xDC}, {5, 6, 0, 1, 0x3C, 0xDC}},
      {"IAC IAC is one 255", {1, Iac, Iac, 2, Iac, Iac}, {1, Iac, 2, Iac}},
      {"a COM port answer between data, 255 doubled inside",
       {7, Iac, Sb, ComPortOption, 101, 0, 0, Iac, Iac, Iac, Se, 8},
       {7, 8}},
      {"NOP and option requests", {Iac, Nop, 9, Iac, Will, Echo, 10}, {9, 10}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    // Whole, and one byte per call: a command split by the network stays whole.
    TelnetCodec whole;
    TelnetBytes data, replies;
    whole.receive(c.in.data(), c.in.size(), data, replies);
    EXPECT_EQ(data, c.data);
    TelnetCodec split;
    TelnetBytes splitData, splitReplies;
    for (uint8_t byte : c.in) split.receive(&byte, 1, splitData, splitReplies);
    EXPECT_EQ(splitData, c.data);
    EXPECT_EQ(splitReplies, replies);
  }
}

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
      {"echo and terminal type declined, our offers still open",
       {Iac, Will, Echo, Iac, Do, TerminalType},
       {Iac, Dont, Echo, Iac, Wont, TerminalType},
       Option::Pending,
       Option::Pending},
      {"the COM port option refused",
       {Iac, Dont, ComPortOption, Iac, Do, BinaryOption, Iac, Will, BinaryOption},
       {},
       Option::Refused,
       Option::Accepted},
      {"binary one way only",
       {Iac, Do, BinaryOption, Iac, Wont, BinaryOption, Iac, Do, ComPortOption},
       {},
       Option::Accepted,
       Option::Refused},
      {"taken, then withdrawn: the withdrawal is confirmed",
       {Iac, Do, ComPortOption, Iac, Dont, ComPortOption},
       {Iac, Wont, ComPortOption},
       Option::Refused,
       Option::Pending},
      {"refused, then asked for after all",
       {Iac, Dont, ComPortOption, Iac, Do, ComPortOption},
       {Iac, Will, ComPortOption},
       Option::Accepted,
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
    EXPECT_EQ(codec.offers(), (TelnetBytes{Iac, Will, BinaryOption, Iac, Do, BinaryOption, Iac,
                                           Will, ComPortOption}));
    TelnetBytes data, replies;
    codec.receive(c.fromServer.data(), c.fromServer.size(), data, replies);
    EXPECT_TRUE(data.empty());
    EXPECT_EQ(replies, c.replies);
    EXPECT_EQ(codec.comPort(), c.comPort);
    EXPECT_EQ(codec.binary(), c.binary);
    EXPECT_EQ(codec.settled(), c.comPort != Option::Pending && c.binary != Option::Pending);
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
  EXPECT_EQ(TelnetCodec::comPortCommand(PurgeData, {PurgeReceived}),
            (TelnetBytes{Iac, Sb, ComPortOption, PurgeData, 1, Iac, Se}));
}

}  // namespace

#pragma once
// The client side of a telnet connection that carries a serial line (RFC 854,
// 855, 856 and the COM port option of RFC 2217): option negotiation, IAC
// doubling, and the COM port commands. Pure byte work, no socket: the remote
// line feeds it what arrives and sends what it returns.

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace loopmon {

namespace telnet {
inline constexpr uint8_t Se = 240;
inline constexpr uint8_t Sb = 250;
inline constexpr uint8_t Will = 251;
inline constexpr uint8_t Wont = 252;
inline constexpr uint8_t Do = 253;
inline constexpr uint8_t Dont = 254;
inline constexpr uint8_t Iac = 255;

inline constexpr uint8_t BinaryOption = 0;
inline constexpr uint8_t ComPortOption = 44;

// COM port commands, client to server (the server answers with +100).
inline constexpr uint8_t SetBaudRate = 1;
inline constexpr uint8_t SetDataSize = 2;
inline constexpr uint8_t SetParity = 3;
inline constexpr uint8_t SetStopSize = 4;
inline constexpr uint8_t SetControl = 5;
inline constexpr uint8_t PurgeData = 12;
inline constexpr uint8_t ServerAnswerOffset = 100;

// Values of SetControl and PurgeData.
inline constexpr uint8_t NoFlowControl = 1;
inline constexpr uint8_t DtrOn = 8;
inline constexpr uint8_t DtrOff = 9;
inline constexpr uint8_t RtsOn = 11;
inline constexpr uint8_t RtsOff = 12;
inline constexpr uint8_t PurgeReceived = 1;  // the server's buffer of bytes from the line
inline constexpr uint8_t PurgeToSend = 2;    // the server's buffer of bytes for the line
}  // namespace telnet

using TelnetBytes = std::vector<uint8_t>;

// The longest subnegotiation taken: the server's COM port answers are a few
// bytes. One that runs on would swallow every answer of the line after it.
inline constexpr size_t MaxSubnegotiationBytes = 64;

class TelnetCodec {
 public:
  enum class Option { Pending, Accepted, Refused };

  // What the client asks for at the start: to send binary, to receive binary,
  // and the COM port option.
  TelnetBytes offers();

  // Takes bytes as they arrive (a command may be split across calls): the data
  // bytes go to `data`, IAC IAC as one 255; what the server's requests call for
  // goes to `replies`. Options other than ours are declined. A subnegotiation
  // longer than MaxSubnegotiationBytes breaks the codec: it takes nothing
  // more, and the connection must go.
  void receive(const uint8_t* bytes, size_t count, TelnetBytes& data, TelnetBytes& replies);
  bool broken() const { return broken_; }
  // The server's answers to COM port commands (the command's code + 100)
  // that have come whole since the last call, in their order.
  TelnetBytes takeComPortAnswers() { return std::exchange(comPortAnswers_, {}); }

  Option comPort() const { return comPort_; }
  // Binary both ways: accepted only when the server agreed to both directions.
  Option binary() const;
  // Every offer has its answer.
  bool settled() const { return comPort_ != Option::Pending && binary() != Option::Pending; }

  // Data for the wire, every 255 doubled.
  static TelnetBytes escape(const uint8_t* data, size_t count);
  // IAC SB COM-PORT-OPTION command value... IAC SE, 255 in the value doubled.
  static TelnetBytes comPortCommand(uint8_t command, const TelnetBytes& value);
  static TelnetBytes baudRateCommand(uint32_t bitsPerSecond);

 private:
  enum class State { Data, Iac, Verb, Sub, SubIac };

  void answer(uint8_t verb, uint8_t option, TelnetBytes& replies);

  State state_ = State::Data;
  uint8_t verb_ = 0;
  size_t subnegotiationBytes_ = 0;
  uint8_t subOption_ = 0;
  uint8_t subCommand_ = 0;
  TelnetBytes comPortAnswers_;
  bool broken_ = false;
  Option comPort_ = Option::Pending;  // we send COM port commands
  Option binaryOut_ = Option::Pending;
  Option binaryIn_ = Option::Pending;
};

}  // namespace loopmon

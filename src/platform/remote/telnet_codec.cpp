#include "platform/remote/telnet_codec.h"

namespace loopmon {

using namespace telnet;

TelnetBytes TelnetCodec::offers() {
  return {Iac, Will, BinaryOption, Iac, Do, BinaryOption, Iac, Will, ComPortOption};
}

TelnetCodec::Option TelnetCodec::binary() const {
  if (binaryOut_ == Option::Refused || binaryIn_ == Option::Refused) return Option::Refused;
  if (binaryOut_ == Option::Pending || binaryIn_ == Option::Pending) return Option::Pending;
  return Option::Accepted;
}

// Only a change of state is answered, and an answer to our own offer is not
// answered again, so two ends never loop on one option (RFC 854's rule).
void TelnetCodec::answer(uint8_t verb, uint8_t option, TelnetBytes& replies) {
  const bool ours = option == BinaryOption || option == ComPortOption;
  const bool askedOfUs = verb == Do || verb == Dont;
  Option* mine = nullptr;
  if (askedOfUs && option == BinaryOption) mine = &binaryOut_;
  if (askedOfUs && option == ComPortOption) mine = &comPort_;
  if (!askedOfUs && option == BinaryOption) mine = &binaryIn_;

  const bool enable = verb == Do || verb == Will;
  if (!ours || !mine) {
    // Options we do not speak (echo, line mode, a server's COM port side) stay off.
    if (enable) replies.insert(replies.end(), {Iac, askedOfUs ? Wont : Dont, option});
    return;
  }
  if (enable) {
    if (*mine == Option::Refused) {
      replies.insert(replies.end(), {Iac, askedOfUs ? Will : Do, option});
    }
    *mine = Option::Accepted;
  } else {
    if (*mine == Option::Accepted) {
      replies.insert(replies.end(), {Iac, askedOfUs ? Wont : Dont, option});
    }
    *mine = Option::Refused;
  }
}

void TelnetCodec::receive(const uint8_t* bytes, size_t count, TelnetBytes& data,
                          TelnetBytes& replies) {
  for (size_t i = 0; i < count && !broken_; ++i) {
    const uint8_t byte = bytes[i];
    switch (state_) {
      case State::Data:
        if (byte == Iac) {
          state_ = State::Iac;
        } else {
          data.push_back(byte);
        }
        break;
      case State::Iac:
        if (byte == Iac) {
          data.push_back(Iac);
          state_ = State::Data;
        } else if (byte >= Will) {
          verb_ = byte;
          state_ = State::Verb;
        } else if (byte == Sb) {
          state_ = State::Sub;
          subnegotiationBytes_ = 0;
          subOption_ = 0;
          subCommand_ = 0;
        } else {
          state_ = State::Data;  // NOP, GA, BRK and the like carry nothing for the line
        }
        break;
      case State::Verb:
        answer(verb_, byte, replies);
        state_ = State::Data;
        break;
      // The server's COM port answers only confirm what was set: their values
      // are skipped, their codes kept, as their coming times the server.
      case State::Sub:
        broken_ = ++subnegotiationBytes_ > MaxSubnegotiationBytes;
        if (byte == Iac) {
          state_ = State::SubIac;
        } else if (subnegotiationBytes_ == 1) {
          subOption_ = byte;
        } else if (subnegotiationBytes_ == 2) {
          subCommand_ = byte;
        }
        break;
      case State::SubIac:
        state_ = byte == Se ? State::Data : State::Sub;
        if (byte == Se && subnegotiationBytes_ >= 2 && subOption_ == ComPortOption &&
            subCommand_ >= ServerAnswerOffset) {
          comPortAnswers_.push_back(subCommand_);
        }
        break;
    }
  }
}

TelnetBytes TelnetCodec::escape(const uint8_t* data, size_t count) {
  TelnetBytes out;
  out.reserve(count + 4);
  for (size_t i = 0; i < count; ++i) {
    out.push_back(data[i]);
    if (data[i] == Iac) out.push_back(Iac);
  }
  return out;
}

TelnetBytes TelnetCodec::comPortCommand(uint8_t command, const TelnetBytes& value) {
  TelnetBytes out{Iac, Sb, ComPortOption, command};
  const TelnetBytes escaped = escape(value.data(), value.size());
  out.insert(out.end(), escaped.begin(), escaped.end());
  out.insert(out.end(), {Iac, Se});
  return out;
}

TelnetBytes TelnetCodec::baudRateCommand(uint32_t bitsPerSecond) {
  return comPortCommand(
      SetBaudRate,
      {static_cast<uint8_t>(bitsPerSecond >> 24), static_cast<uint8_t>(bitsPerSecond >> 16),
       static_cast<uint8_t>(bitsPerSecond >> 8), static_cast<uint8_t>(bitsPerSecond)});
}

}  // namespace loopmon

#include "platform/remote/com_port_settings.h"

namespace loopmon {

namespace {

// Win32 DCB codes to the values of RFC 2217.
uint8_t parityValue(uint8_t dcbParity) {
  return dcbParity <= 4 ? static_cast<uint8_t>(dcbParity + 1) : 1;
}

uint8_t stopSizeValue(uint8_t dcbStopBits) {
  switch (dcbStopBits) {
    case 1:
      return 3;  // one and a half
    case 2:
      return 2;
    default:
      return 1;
  }
}

}  // namespace

std::vector<TelnetBytes> comPortSettingCommands(const CommState& state) {
  return {TelnetCodec::baudRateCommand(state.baudRate),
          TelnetCodec::comPortCommand(telnet::SetDataSize, {state.byteSize}),
          TelnetCodec::comPortCommand(telnet::SetParity, {parityValue(state.parity)}),
          TelnetCodec::comPortCommand(telnet::SetStopSize, {stopSizeValue(state.stopBits)}),
          TelnetCodec::comPortCommand(telnet::SetControl, {telnet::NoFlowControl})};
}

}  // namespace loopmon

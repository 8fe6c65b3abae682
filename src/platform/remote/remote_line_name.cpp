#include "platform/remote/remote_line.h"

#include <algorithm>
#include <cctype>

#include "platform/serial/port_names.h"

namespace loopmon {
namespace {

bool startsWithNoCase(const std::string& text, const std::string& prefix) {
  return text.size() >= prefix.size() &&
         std::equal(prefix.begin(), prefix.end(), text.begin(), [](char a, char b) {
           return std::tolower(static_cast<unsigned char>(a)) ==
                  std::tolower(static_cast<unsigned char>(b));
         });
}

}  // namespace

std::string RemoteLineAddress::text() const {
  const bool bracketed = host.find(':') != std::string::npos;
  return std::string(protocol == RemoteProtocol::Rfc2217 ? Rfc2217Prefix : RawTcpPrefix) +
         (bracketed ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

std::optional<RemoteLineAddress> parseRemoteLine(const std::string& name, std::string& problem) {
  RemoteLineAddress address;
  std::string rest;
  if (startsWithNoCase(name, Rfc2217Prefix)) {
    rest = name.substr(std::string(Rfc2217Prefix).size());
  } else if (startsWithNoCase(name, RawTcpPrefix)) {
    address.protocol = RemoteProtocol::RawTcp;
    rest = name.substr(std::string(RawTcpPrefix).size());
  } else {
    problem = name + ": not a remote line (rfc2217://HOST:PORT or tcp://HOST:PORT)";
    return std::nullopt;
  }
  const size_t colon = rest.rfind(':');
  std::string host = colon == std::string::npos ? rest : rest.substr(0, colon);
  const std::string port = colon == std::string::npos ? "" : rest.substr(colon + 1);
  // Brackets hold an IPv6 address and nothing else holds a colon; no name
  // holds brackets, a slash, blanks or control characters.
  const bool bracketed = host.size() >= 2 && host.front() == '[' && host.back() == ']';
  if (bracketed) host = host.substr(1, host.size() - 2);
  const bool unusable = std::any_of(host.begin(), host.end(), [&](unsigned char c) {
    return c <= ' ' || c == 0x7F || c == '[' || c == ']' || c == '/' || (c == ':' && !bracketed);
  });
  if (unusable) host.clear();
  long number = 0;
  const bool digits =
      !port.empty() && port.size() <= 5 &&
      std::all_of(port.begin(), port.end(), [](char c) { return c >= '0' && c <= '9'; });
  if (digits) number = std::stol(port);
  if (host.empty() || !digits || number < 1 || number > 65535) {
    problem = name + ": expected " +
              (address.protocol == RemoteProtocol::Rfc2217 ? "rfc2217" : "tcp") +
              "://HOST:PORT with a port of 1..65535";
    return std::nullopt;
  }
  address.host = host;
  address.port = static_cast<uint16_t>(number);
  return address;
}

}  // namespace loopmon

// SPDX-License-Identifier: MIT
// vxctl's conversation with the generator: the port opened with the panel's
// stored settings or the command line's, one query and its reply at a time.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "CPort.h"
#include "Protocol.h"

namespace vxctl {

// The generator did not answer a query, or answered garbage: exit code 1.
struct TReplyError : std::runtime_error {
  TReplyError(const std::string& what, bool garbled) : std::runtime_error(what), Garbled(garbled) {}
  bool Garbled;
};

// The port could not be opened or its stored settings not read: exit code 3.
struct TPortError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

struct TLineSettings {
  std::string Port = "COM1";
  cport::TBaudRate BaudRate = cport::br9600;
  int32_t CustomBaudRate = 9600;  // for brCustom
  cport::TDataBits DataBits = cport::dbEight;
  cport::TParityBits Parity = cport::prNone;
  cport::TFlowControl FlowControl = cport::fcNone;
};

// The panel's stored settings (its defaults when it has stored none yet:
// nothing is written here), or the given port at 9600 8N1; a given rate
// replaces either's.  Throws TPortError when a stored value is unusable.
TLineSettings ChooseLine(const std::optional<std::string>& port, const std::optional<int32_t>& baud);

class TGeneratorLine {
 public:
  // Opens the port; throws TPortError with the component's message, saying
  // "busy" when another program (a running panel) holds it.
  TGeneratorLine(const TLineSettings& settings, int32_t timeoutMs);
  TGeneratorLine(const TGeneratorLine&) = delete;
  TGeneratorLine& operator=(const TGeneratorLine&) = delete;

  const std::string& Port() const { return FPort.Port(); }

  // A frame that wants no reply (set and action frames).
  void Send(std::string_view frame);

  // Each sends its query and waits for a reply of exactly the protocol's
  // shape; throws TReplyError naming the query otherwise.  A failing port
  // (a lost device) throws cport::EComPort.
  vxpanel::TVersionReply Version();
  int32_t Value(char letter, std::string_view name);
  vxpanel::TStatusBlock Status();

 private:
  // The reply up to and including its carriage return, or what arrived
  // before the time-out.
  std::string Ask(std::string_view query);
  [[noreturn]] void Fail(std::string_view what, std::string_view query, const std::string& reply) const;

  cport::TComPort FPort;
  int32_t FTimeoutMs;
};

// Bytes for a message: carriage return as \r, other unprintable bytes as \xNN.
std::string Printable(std::string_view bytes);

}  // namespace vxctl

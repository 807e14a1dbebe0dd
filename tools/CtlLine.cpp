// SPDX-License-Identifier: MIT
#include "CtlLine.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "SettingsStore.h"

namespace vxctl {

namespace {

bool Digits(std::string_view s) {
  for (const char c : s)
    if (c < '0' || c > '9') return false;
  return true;
}

// Which query a frame is, for messages.
std::string QueryName(std::string_view name, std::string_view frame) {
  return std::string(name) + " query (" + Printable(frame) + ")";
}

}  // namespace

std::string Printable(std::string_view bytes) {
  std::string out;
  for (const char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    if (c == '\r')
      out += "\\r";
    else if (c == '\\')
      out += "\\\\";
    else if (b >= 0x20 && b < 0x7f)
      out += c;
    else {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02X", b);
      out += buf;
    }
  }
  return out;
}

TLineSettings ChooseLine(const std::optional<std::string>& port, const std::optional<int32_t>& baud) {
  TLineSettings s;
  if (port) {
    s.Port = *port;
  } else {
    try {
      vxpanel::TSettingsStore store;
      // Read only: the panel writes its defaults at its own first start.
      if (store.OpenKey(vxpanel::kPortSettingsKey, false)) {
        s.Port = store.ReadString("Port");
        s.DataBits = static_cast<cport::TDataBits>(store.ReadOrdinal("DataBits", cport::DataBitsCount));
        s.Parity = static_cast<cport::TParityBits>(store.ReadOrdinal("Parity", cport::ParityBitsCount));
        s.FlowControl = static_cast<cport::TFlowControl>(store.ReadOrdinal("FlowControl", cport::FlowControlCount));
        s.BaudRate = static_cast<cport::TBaudRate>(store.ReadOrdinal("BaudRate", cport::BaudRateCount));
      }
    } catch (const cport::Exception& e) {
      throw TPortError(std::string("the panel's stored port settings: ") + e.what() + "; give --port");
    }
    if (s.Port.empty()) throw TPortError("the panel's stored port settings name no port; give --port");
  }
  if (baud) {
    s.BaudRate = cport::brCustom;
    s.CustomBaudRate = *baud;
    for (int r = cport::br110; r < cport::BaudRateCount; ++r)
      if (cport::BaudRateValue(static_cast<cport::TBaudRate>(r)) == static_cast<uint32_t>(*baud))
        s.BaudRate = static_cast<cport::TBaudRate>(r);
  }
  return s;
}

TGeneratorLine::TGeneratorLine(const TLineSettings& settings, int32_t timeoutMs) : FTimeoutMs(timeoutMs) {
  // No event thread: replies are read where they are asked for.
  FPort.SetEvents({});
  FPort.SetPort(settings.Port);
  FPort.SetBaudRate(settings.BaudRate);
  FPort.SetCustomBaudRate(settings.CustomBaudRate);
  FPort.SetDataBits(settings.DataBits);
  FPort.Parity().SetBits(settings.Parity);
  FPort.FlowControl().SetFlowControl(settings.FlowControl);
  // A read returns with the first bytes that come, or after the constant.
  FPort.Timeouts().SetReadInterval(-1);
  FPort.Timeouts().SetReadTotalM(-1);
  FPort.Timeouts().SetReadTotalC(timeoutMs);
  try {
    FPort.Open();
  } catch (const cport::EComPort& e) {
    const int err = e.SystemErrorCode();
    const std::string why = err > 0 ? std::string(" (") + std::strerror(err) + ")" : "";
    // Held by another program: it keeps the port, whatever it is doing.
    if (err == EBUSY || err == EWOULDBLOCK)
      throw TPortError(settings.Port + ": port busy, held by another program (a running panel?): " + e.what());
    throw TPortError(settings.Port + ": " + e.what() + why);
  }
}

void TGeneratorLine::Send(std::string_view frame) { FPort.WriteStr(std::string(frame)); }

std::string TGeneratorLine::Ask(std::string_view query) {
  // Bytes still queued belong to an earlier, late reply or to noise.
  FPort.ClearBuffer(true, false);
  Send(query);
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(FTimeoutMs);
  std::string reply;
  char buf[64];
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return reply;
    FPort.Timeouts().SetReadTotalC(static_cast<int32_t>(left));
    reply.append(buf, static_cast<size_t>(FPort.Read(buf, sizeof buf)));
    if (const size_t cr = reply.find('\r'); cr != std::string::npos) return reply.substr(0, cr + 1);
  }
}

void TGeneratorLine::Fail(std::string_view what, std::string_view query, const std::string& reply) const {
  if (reply.empty())
    throw TReplyError("no answer to the " + QueryName(what, query) + " within " + std::to_string(FTimeoutMs) + " ms",
                      false);
  throw TReplyError("garbled answer to the " + QueryName(what, query) + ": \"" + Printable(reply) + "\"", true);
}

vxpanel::TVersionReply TGeneratorLine::Version() {
  const std::string r = Ask(vxpanel::kVersionQuery);
  auto printable = [](char c) { return c >= 0x20 && c < 0x7f; };
  if (r.size() != 9 || !printable(r[5]) || !printable(r[6]) || !printable(r[7]))
    Fail("version", vxpanel::kVersionQuery, r);
  auto v = vxpanel::ParseVersionReply(r);
  if (!v) Fail("version", vxpanel::kVersionQuery, r);
  return *v;
}

int32_t TGeneratorLine::Value(char letter, std::string_view name) {
  const std::string query = vxpanel::QueryFrame(letter);
  const std::string r = Ask(query);
  const auto v = vxpanel::ParseValueReply(r, letter);
  if (!v || r.size() != 10 || !Digits(std::string_view(r).substr(4, 5))) Fail(name, query, r);
  return *v;
}

vxpanel::TStatusBlock TGeneratorLine::Status() {
  const std::string query = vxpanel::QueryFrame('?');
  const std::string r = Ask(query);
  const auto s = vxpanel::ParseStatusBlock(r);
  if (!s || r.size() != 21 || !Digits(std::string_view(r).substr(4, 15))) Fail("status", query, r);
  return *s;
}

}  // namespace vxctl

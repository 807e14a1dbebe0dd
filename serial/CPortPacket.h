// SPDX-License-Identifier: MIT
// The packet splitter: cuts the bytes a port receives (or any bytes handed
// to AddData) into packets by a start string, a stop string and a size.
//
// Rules:
//  - Bytes before a start string are discarded.  Without a start string a
//    packet starts with the first byte not used yet.
//  - A packet ends at the first stop string after its start, or when Size
//    payload bytes (the bytes after the start string) have come, whichever
//    comes first.  With neither, the rest of each arrival after the start is
//    one packet (in pieces of at most MaxBufferSize bytes; a start string
//    that ends an arrival makes the next arrival the packet).
//  - Markers match across arrivals; the rest of an arrival after a packet is
//    searched again, so one arrival can give several packets, in order.
//  - A payload is at most MaxBufferSize bytes.  A longer one is discarded as
//    soon as it is known to be longer: with a start string the search for
//    the next start begins after it; without one the rest of that packet, up
//    to its stop string or its size, is discarded as well (a fragment of an
//    overlong packet never passes as a packet).  Bytes waiting for a start
//    are discarded whenever MaxBufferSize of them are held (but for a
//    partial start string at their end).
//  - Changing a framing property, ResetBuffer, binding another port and the
//    port's opening or closing discard what is held.  When the port closes
//    (or is unbound) from a handler, the rest of the arrival under way is
//    discarded too; after a property change it is searched by the new rules.
//  - Every byte ends up exactly once in a packet (markers only with
//    IncludeStrings) or in a discarded run, in the order received.
//
// Threads: the splitter hears the port where the port delivers its
// notifications (its SyncMethod); use it, and bind it, on that thread.  With
// smNone bind it while the port is closed.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "CPort.h"

namespace cport {

class TComDataPacket;

using TComPacketEvent = std::function<void(TComDataPacket* sender, const std::string& bytes)>;

// A framing property refused a value; nothing changed.
class EComDataPacket : public Exception {
 public:
  EComDataPacket(const std::string& property, const std::string& message)
      : Exception(message), FProperty(property) {}
  const std::string& Property() const { return FProperty; }

 private:
  std::string FProperty;
};

class TComDataPacket : public TComponent, private IFreeNotification {
 public:
  explicit TComDataPacket(TComponent* owner = nullptr);
  ~TComDataPacket() override;

  // -- the port followed (nullptr: none) ---------------------------------------
  TCustomComPort* ComPort() const { return FComPort; }
  void SetComPort(TCustomComPort* port);

  // -- framing ---------------------------------------------------------------
  const std::string& StartString() const { return FStartString; }
  void SetStartString(const std::string& value);
  const std::string& StopString() const { return FStopString; }
  void SetStopString(const std::string& value);
  // Payload bytes after the start string; 0: no size.  Negative: refused.
  int32_t Size() const { return FSize; }
  void SetSize(int32_t value);
  // The packet carries its start and stop strings.
  bool IncludeStrings() const { return FIncludeStrings; }
  void SetIncludeStrings(bool value);
  // Markers match ignoring ASCII letter case; bytes are delivered as received.
  bool CaseInsensitive() const { return FCaseInsensitive; }
  void SetCaseInsensitive(bool value);
  // The largest payload, and how many bytes wait for a start.  Below 1: refused.
  int32_t MaxBufferSize() const { return FMaxBufferSize; }
  void SetMaxBufferSize(int32_t value);

  // -- bytes -------------------------------------------------------------------
  // Splits count bytes; what the port's link calls.  A negative count, or
  // bytes without a buffer, are refused.
  void AddData(const void* buffer, int32_t count);
  // Discards what is held (reported through OnDiscard).
  void ResetBuffer();
  // How many bytes are held, waiting for a start or an end.
  size_t HeldCount() const { return FHeld.size(); }

  // -- notifications -----------------------------------------------------------
  // A handler may change properties, reset, bind another port or close the
  // port.  An exception from a handler passes on to the caller of AddData
  // and ends that arrival: its bytes not yet looked at are dropped.
  TComPacketEvent OnPacket;
  TComPacketEvent OnDiscard;

 protected:
  virtual void DoPacket(const std::string& packet);
  virtual void DoDiscard(const std::string& bytes);

 private:
  enum class TPhase : uint8_t { WaitStart, Packet };
  // One marker with what matching it across arrivals needs.
  struct TMarker {
    std::string Text;          // folded when case does not count
    std::vector<int32_t> Fail;  // prefix function (longest proper border)
    size_t Size() const { return Text.size(); }
    void Build(const std::string& text, const std::array<uint8_t, 256>& fold);
  };

  struct TLife;
  class THold;
  void FreeNotify(TComponent* component) override;
  void Rebuild();  // after a framing change: tables, then discard
  void Restart();  // the state of nothing held
  void ConnectionChanged();
  void Deliver(bool packet, std::string& bytes);
  // Scans data[p, n) from the current state up to the next packet or
  // discard, which it reports; returns where the next step starts.
  size_t Step(const uint8_t* data, size_t p, size_t n);
  size_t StepWaitStart(const uint8_t* data, size_t p, size_t n);
  size_t StepPacket(const uint8_t* data, size_t p, size_t n);
  size_t StepArrival(const uint8_t* data, size_t p, size_t n);
  // First byte in [p, end) that can begin marker m; end when none.
  size_t FindFirst(const uint8_t* data, size_t p, size_t end, const TMarker& m) const;
  int32_t Advance(const TMarker& m, int32_t state, uint8_t byte) const;

  TCustomComPort* FComPort = nullptr;
  TComLink FLink;
  std::string FStartString, FStopString;
  int32_t FSize = 0;
  bool FIncludeStrings = false;
  bool FCaseInsensitive = false;
  int32_t FMaxBufferSize = 1024;

  std::array<uint8_t, 256> FFold{};
  TMarker FStart, FStop;
  TPhase FPhase = TPhase::Packet;
  std::string FHeld;        // the bytes held (junk and a partial start, or the packet so far)
  int32_t FMatch = 0;       // length of the marker prefix that ends what was seen
  size_t FPayload = 0;      // payload bytes of the packet under way
  bool FDiscarding = false; // the packet under way is too long: discard it to its end
  std::string FScratch;     // reused for what is delivered
  int FDelivering = 0;      // handlers running (a nested delivery gets its own string)
  uint64_t FConnection = 0; // changes when the bytes' source changes
  TLife* FLife;              // outlives this object while a handler runs
};

}  // namespace cport

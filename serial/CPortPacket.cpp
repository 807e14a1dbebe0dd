// SPDX-License-Identifier: MIT
// The packet splitter.  Markers are found with their prefix function, so
// matching goes on across arrivals from where it stopped and every byte is
// looked at once; between candidates memchr jumps to the next byte that can
// begin the marker.  After each step everything held is in FHeld, so a
// handler may change any setting between two steps.
#include "CPortPacket.h"

#include <algorithm>
#include <cstring>

namespace cport {

namespace {

bool IsLetter(uint8_t c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

}  // namespace

// Whether this object still exists, for calls that run handlers (one may
// destroy it).  Used on one thread, so plain counts do.
struct TComDataPacket::TLife {
  bool Alive = true;
  int Holds = 1;  // the object's own, and one per call under way
};

class TComDataPacket::THold {
 public:
  explicit THold(TLife* life) : FLife(life) { ++FLife->Holds; }
  ~THold() {
    if (--FLife->Holds == 0) delete FLife;
  }
  THold(const THold&) = delete;
  THold& operator=(const THold&) = delete;
  bool Alive() const { return FLife->Alive; }

 private:
  TLife* FLife;
};

void TComDataPacket::TMarker::Build(const std::string& text, const std::array<uint8_t, 256>& fold) {
  Text.resize(text.size());
  for (size_t i = 0; i < text.size(); ++i) Text[i] = static_cast<char>(fold[static_cast<uint8_t>(text[i])]);
  Fail.assign(Text.size(), 0);
  for (size_t i = 1, k = 0; i < Text.size(); ++i) {
    while (k > 0 && Text[i] != Text[k]) k = static_cast<size_t>(Fail[k - 1]);
    if (Text[i] == Text[k]) ++k;
    Fail[i] = static_cast<int32_t>(k);
  }
}

TComDataPacket::TComDataPacket(TComponent* owner) : TComponent(owner), FLife(new TLife) {
  // A link taken off during a fan-out may still be called once by a port
  // that was copying its list: only the bound port's bytes count.
  FLink.OnRxBuf = [this](TCustomComPort* sender, const void* buffer, int32_t count) {
    if (sender == FComPort) AddData(buffer, count);
  };
  FLink.OnConn = [this](TCustomComPort* sender, bool) {
    if (sender == FComPort) ConnectionChanged();
  };
  for (size_t i = 0; i < FFold.size(); ++i) FFold[i] = static_cast<uint8_t>(i);
  Restart();
}

TComDataPacket::~TComDataPacket() {
  NotifyDestruction();
  FLife->Alive = false;
  if (--FLife->Holds == 0) delete FLife;
  if (FComPort) {
    FComPort->RemoveFreeNotification(this);
    try {
      FComPort->UnRegisterLink(&FLink);
    } catch (...) {
      // Not listed: nothing to undo.
    }
  }
}

// ---------------------------------------------------------------------------
// Binding

void TComDataPacket::SetComPort(TCustomComPort* port) {
  if (port == FComPort) return;
  if (port) port->RegisterLink(&FLink);  // first: a refusal changes nothing
  TCustomComPort* old = FComPort;
  FComPort = port;
  if (port) port->FreeNotification(this);
  if (old) {
    old->RemoveFreeNotification(this);
    old->UnRegisterLink(&FLink);
  }
  ConnectionChanged();
}

void TComDataPacket::FreeNotify(TComponent* component) {
  if (component != FComPort) return;
  TCustomComPort* port = FComPort;
  FComPort = nullptr;
  try {
    port->UnRegisterLink(&FLink);
  } catch (...) {
  }
  ConnectionChanged();
}

void TComDataPacket::ConnectionChanged() {
  ++FConnection;
  ResetBuffer();
}

// ---------------------------------------------------------------------------
// Framing

void TComDataPacket::SetStartString(const std::string& value) {
  if (value == FStartString) return;
  FStartString = value;
  Rebuild();
}

void TComDataPacket::SetStopString(const std::string& value) {
  if (value == FStopString) return;
  FStopString = value;
  Rebuild();
}

void TComDataPacket::SetSize(int32_t value) {
  if (value < 0)
    throw EComDataPacket("Size", "TComDataPacket: Size must be 0 or more, not " + std::to_string(value));
  if (value == FSize) return;
  FSize = value;
  Rebuild();
}

void TComDataPacket::SetIncludeStrings(bool value) {
  if (value == FIncludeStrings) return;
  FIncludeStrings = value;
  Rebuild();
}

void TComDataPacket::SetCaseInsensitive(bool value) {
  if (value == FCaseInsensitive) return;
  FCaseInsensitive = value;
  Rebuild();
}

void TComDataPacket::SetMaxBufferSize(int32_t value) {
  if (value < 1)
    throw EComDataPacket("MaxBufferSize",
                         "TComDataPacket: MaxBufferSize must be 1 or more, not " + std::to_string(value));
  if (value == FMaxBufferSize) return;
  FMaxBufferSize = value;
  Rebuild();
}

void TComDataPacket::Rebuild() {
  for (size_t i = 0; i < FFold.size(); ++i)
    FFold[i] = static_cast<uint8_t>(FCaseInsensitive && i >= 'A' && i <= 'Z' ? i + ('a' - 'A') : i);
  FStart.Build(FStartString, FFold);
  FStop.Build(FStopString, FFold);
  ResetBuffer();
}

void TComDataPacket::Restart() {
  FPhase = FStart.Size() ? TPhase::WaitStart : TPhase::Packet;
  FHeld.clear();
  FMatch = 0;
  FPayload = 0;
  FDiscarding = false;
}

void TComDataPacket::ResetBuffer() {
  std::string held;
  held.swap(FHeld);
  Restart();
  if (!held.empty()) Deliver(false, held);
}

// ---------------------------------------------------------------------------
// Splitting

void TComDataPacket::DoPacket(const std::string& packet) {
  if (OnPacket) OnPacket(this, packet);
}

void TComDataPacket::DoDiscard(const std::string& bytes) {
  if (OnDiscard) OnDiscard(this, bytes);
}

// The last thing each caller does: the handler may destroy this object.
void TComDataPacket::Deliver(bool packet, std::string& bytes) {
  const THold hold(FLife);
  ++FDelivering;
  try {
    if (packet)
      DoPacket(bytes);
    else
      DoDiscard(bytes);
  } catch (...) {
    if (hold.Alive()) --FDelivering;
    throw;
  }
  if (hold.Alive()) --FDelivering;
}

void TComDataPacket::AddData(const void* buffer, int32_t count) {
  if (count < 0 || (count > 0 && !buffer))
    throw EComDataPacket("AddData", "TComDataPacket: AddData needs bytes and a count of 0 or more, not " +
                                        std::to_string(count));
  if (count == 0) return;
  const auto* data = static_cast<const uint8_t*>(buffer);
  const auto n = static_cast<size_t>(count);
  const THold hold(FLife);
  const uint64_t connection = FConnection;
  size_t p = 0;
  while (p < n) {
    p = Step(data, p, n);
    if (!hold.Alive()) return;
    if (FConnection != connection) {
      // The bytes' source closed or changed under a handler: the rest of
      // this arrival belongs to a connection that is over.
      if (p < n) {
        std::string rest(reinterpret_cast<const char*>(data + p), n - p);
        Deliver(false, rest);
      }
      return;
    }
  }
}

size_t TComDataPacket::Step(const uint8_t* data, size_t p, size_t n) {
  if (FPhase == TPhase::WaitStart) return StepWaitStart(data, p, n);
  if (FSize == 0 && FStop.Size() == 0) return StepArrival(data, p, n);
  return StepPacket(data, p, n);
}

size_t TComDataPacket::FindFirst(const uint8_t* data, size_t p, size_t end, const TMarker& m) const {
  const auto first = static_cast<uint8_t>(m.Text[0]);
  if (end - p >= 16 && (!FCaseInsensitive || !IsLetter(first))) {
    const void* hit = std::memchr(data + p, first, end - p);
    return hit ? static_cast<size_t>(static_cast<const uint8_t*>(hit) - data) : end;
  }
  while (p < end && FFold[data[p]] != first) ++p;
  return p;
}

int32_t TComDataPacket::Advance(const TMarker& m, int32_t state, uint8_t byte) const {
  const auto c = static_cast<char>(FFold[byte]);
  while (state > 0 && m.Text[static_cast<size_t>(state)] != c) state = m.Fail[static_cast<size_t>(state) - 1];
  if (m.Text[static_cast<size_t>(state)] == c) ++state;
  return state;
}

// Held: junk, then the partial start (FMatch bytes).
size_t TComDataPacket::StepWaitStart(const uint8_t* data, size_t p, size_t n) {
  const TMarker& m = FStart;
  const auto max = static_cast<size_t>(FMaxBufferSize);
  int32_t state = FMatch;
  size_t junk = FHeld.size() - static_cast<size_t>(state);
  size_t q = p;
  bool found = false;
  while (q < n) {
    if (state == 0) {
      const size_t c = FindFirst(data, q, std::min(n, q + (max - junk)), m);
      junk += c - q;
      q = c;
      if (junk >= max || q == n) break;
    }
    const int32_t before = state;
    state = Advance(m, state, data[q++]);
    junk += static_cast<size_t>(before + 1 - state);
    if (static_cast<size_t>(state) == m.Size()) {
      found = true;
      break;
    }
    if (junk >= max) break;
  }
  if (!found && junk < max) {
    FHeld.append(reinterpret_cast<const char*>(data + p), q - p);
    FMatch = state;
    return q;
  }
  // The run so far splits into junk and what is kept: the start found, or
  // the partial start that may still become one.
  std::string local;
  std::string& out = FDelivering ? local : FScratch;
  out.swap(FHeld);
  out.append(reinterpret_cast<const char*>(data + p), q - p);
  const auto keep = static_cast<size_t>(state);
  FHeld.assign(out, out.size() - keep, keep);
  out.resize(out.size() - keep);
  FMatch = 0;
  if (found) {
    FPhase = TPhase::Packet;
    FPayload = 0;
    FDiscarding = false;
  } else {
    FMatch = state;
  }
  if (!out.empty()) Deliver(false, out);
  return q;
}

// Held: the start string (when there is one), then the payload so far, whose
// last FMatch bytes are a partial stop string.  While discarding, the bytes
// of the too long packet not reported yet.
size_t TComDataPacket::StepPacket(const uint8_t* data, size_t p, size_t n) {
  enum TEnd { eNone, eStop, eSize, eOverflow, eRun };
  const TMarker& m = FStop;
  const size_t stopLen = m.Size();
  const auto max = static_cast<size_t>(FMaxBufferSize);
  const auto size = static_cast<size_t>(FSize);
  int32_t state = FMatch;
  size_t payload = FPayload;
  size_t q = p;
  TEnd end = eNone;
  auto check = [&] {
    const size_t confirmed = payload - static_cast<size_t>(state);
    if (stopLen && static_cast<size_t>(state) == stopLen) return eStop;
    if (size && payload == size) return !FDiscarding && payload > max ? eOverflow : eSize;
    if (!FDiscarding && confirmed > max) return eOverflow;
    if (FDiscarding && FHeld.size() + (q - p) >= max) return eRun;
    return eNone;
  };
  while (q < n && end == eNone) {
    if (state == 0) {
      // Up to the next byte that can begin the stop string, but no further
      // than where the size, the limit or the discarded run end.
      size_t last = n;
      if (size) last = std::min(last, q + (size - payload));
      if (!FDiscarding)
        last = std::min(last, q + (max + 1 - payload));
      else
        last = std::min(last, q + (max - FHeld.size() - (q - p)));
      const size_t c = stopLen ? FindFirst(data, q, last, m) : last;
      payload += c - q;
      q = c;
      if (c == last) {
        end = check();
        continue;
      }
    }
    state = Advance(m, state, data[q++]);
    ++payload;
    end = check();
  }
  if (end == eNone) {
    FHeld.append(reinterpret_cast<const char*>(data + p), q - p);
    FMatch = state;
    FPayload = payload;
    return q;
  }
  std::string local;
  std::string& out = FDelivering ? local : FScratch;
  const bool packet = (end == eStop || end == eSize) && !FDiscarding;
  if (packet && FHeld.empty()) {
    // The usual case, a packet within one arrival: copied once.
    const size_t back = !FIncludeStrings && end == eStop ? stopLen : 0;
    out.assign(reinterpret_cast<const char*>(data + p), q - p - back);
  } else {
    // The held bytes move over in their buffer: a long packet gets no new
    // one (dropping the start string shifts it once).
    out.swap(FHeld);
    FHeld.clear();
    out.append(reinterpret_cast<const char*>(data + p), q - p);
    if (packet && !FIncludeStrings) {
      if (end == eStop) out.resize(out.size() - stopLen);
      out.erase(0, FStart.Size());
    }
  }
  const bool over = end == eStop || end == eSize || (size && payload == size);
  if (over || (end == eOverflow && FStart.Size())) {
    Restart();
  } else {
    // Too long without a start string to look for: discard on to its end,
    // so that its tail does not pass as a packet of its own.
    FHeld.clear();
    FDiscarding = true;
    FMatch = state;
    FPayload = payload;
  }
  Deliver(packet, out);
  return q;
}

// Neither a stop string nor a size: the rest of the arrival is the packet.
size_t TComDataPacket::StepArrival(const uint8_t* data, size_t p, size_t n) {
  const size_t q = p + std::min(n - p, static_cast<size_t>(FMaxBufferSize));
  std::string local;
  std::string& out = FDelivering ? local : FScratch;
  if (FIncludeStrings)
    out.assign(FHeld);
  else
    out.clear();
  out.append(reinterpret_cast<const char*>(data + p), q - p);
  if (q == n)
    Restart();
  else
    FHeld.clear();  // the next piece of the same arrival
  Deliver(true, out);
  return q;
}

}  // namespace cport

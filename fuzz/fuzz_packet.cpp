// SPDX-License-Identifier: MIT
// The packet splitter against random framing and random arrival cuts: no
// crash, no packet longer than MaxBufferSize plus the markers, and every
// byte exactly once, in order, in a packet or a discarded run.
//
// Input: three bytes of framing, the start and stop strings, then the
// bytes.  Marker and data bytes come from a small alphabet (letters in both
// cases, CR, LF, NUL, 0xFF) so that markers are met often; the high bits of
// each data byte say whether the arrival ends after it and whether the
// buffer is reset there.
#include <cstdint>
#include <string>
#include <vector>

#include "CPortPacket.h"

using namespace cport;

namespace {

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

constexpr char kAlphabet[8] = {'a', 'A', 'b', 'B', '\r', '\n', '\0', '\xFF'};

struct TSeen {
  std::vector<std::string> Packets;
  std::vector<std::string> Events;  // packets and discards, in order
  std::vector<bool> IsPacket;
};

void Watch(TComDataPacket& s, TSeen& seen) {
  s.OnPacket = [&seen](TComDataPacket*, const std::string& b) {
    seen.Packets.push_back(b);
    seen.Events.push_back(b);
    seen.IsPacket.push_back(true);
  };
  s.OnDiscard = [&seen](TComDataPacket*, const std::string& b) {
    seen.Events.push_back(b);
    seen.IsPacket.push_back(false);
  };
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  const uint8_t flags = data[0];
  const size_t startLen = (flags >> 2) & 3, stopLen = (flags >> 4) & 3;
  const int32_t sizeRule = (flags & 0x40) ? data[1] & 63 : 0;
  const int32_t max = 1 + (data[2] & 63);
  size_t at = 3;
  if (size < at + startLen + stopLen) return 0;
  std::string start, stop;
  for (size_t i = 0; i < startLen; ++i) start += kAlphabet[data[at++] & 7];
  for (size_t i = 0; i < stopLen; ++i) stop += kAlphabet[data[at++] & 7];

  // Two splitters fed alike: with the markers in the packets, and without.
  TComDataPacket with, without;
  TSeen seenWith, seenWithout;
  for (TComDataPacket* s : {&with, &without}) {
    s->SetStartString(start);
    s->SetStopString(stop);
    s->SetSize(sizeRule);
    s->SetCaseInsensitive(flags & 2);
    s->SetMaxBufferSize(max);
  }
  with.SetIncludeStrings(true);
  Watch(with, seenWith);
  Watch(without, seenWithout);

  std::string all, arrival;
  auto feed = [&] {
    for (TComDataPacket* s : {&with, &without}) s->AddData(arrival.data(), static_cast<int32_t>(arrival.size()));
    all += arrival;
    arrival.clear();
  };
  for (; at < size; ++at) {
    arrival += kAlphabet[data[at] & 7];
    if (data[at] & 8) feed();
    if (((data[at] >> 4) & 7) == 7) {
      feed();
      with.ResetBuffer();
      without.ResetBuffer();
    }
  }
  feed();
  with.ResetBuffer();
  without.ResetBuffer();

  // Every byte once, in order.
  std::string joined;
  for (const std::string& e : seenWith.Events) joined += e;
  Check(joined == all);
  // The same cuts into packets and discards either way; the markers alone differ.
  Check(seenWith.IsPacket == seenWithout.IsPacket);
  for (size_t i = 0; i < seenWith.Events.size(); ++i) {
    const std::string &a = seenWith.Events[i], &b = seenWithout.Events[i];
    if (!seenWith.IsPacket[i]) {
      Check(a == b);
      continue;
    }
    Check(a.size() <= static_cast<size_t>(max) + startLen + stopLen);
    Check(b.size() <= static_cast<size_t>(max));
    // Without its start string, and without its stop string when it ended at one.
    Check(b == a || (a.size() >= startLen && b == a.substr(startLen)) ||
          (a.size() >= startLen + stopLen && b == a.substr(startLen, a.size() - startLen - stopLen)));
  }
  return 0;
}

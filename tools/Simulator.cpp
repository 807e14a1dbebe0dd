// SPDX-License-Identifier: MIT
#include "Simulator.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <system_error>
#include <utility>

namespace vxsim {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

namespace {

[[noreturn]] void Fail(const char* what) { throw std::system_error(errno, std::generic_category(), what); }

const char* Tag(EEvent kind) {
  switch (kind) {
    case EEvent::Received: return "rx";
    case EEvent::Sent: return "tx";
    case EEvent::Dropped: return "drop";
    case EEvent::Noise: return "noise";
    case EEvent::HungUp: return "hangup";
  }
  return "?";
}

}  // namespace

TPtyPair TPtyPair::Open() {
  TPtyPair p;
  if (::openpty(&p.FMaster, &p.FSlave, nullptr, nullptr, nullptr) != 0) Fail("openpty");
  char name[128];
  if (::ptsname_r(p.FMaster, name, sizeof name) != 0) Fail("ptsname");
  p.FPath = name;
  // Master and terminal share one set of line settings: raw, so that no
  // echo or line editing comes between the panel and the generator.
  termios t{};
  if (::tcgetattr(p.FMaster, &t) != 0) Fail("tcgetattr");
  ::cfmakeraw(&t);
  if (::tcsetattr(p.FMaster, TCSANOW, &t) != 0) Fail("tcsetattr");
  if (::fcntl(p.FMaster, F_SETFL, ::fcntl(p.FMaster, F_GETFL) | O_NONBLOCK) != 0) Fail("fcntl");
  ::fcntl(p.FMaster, F_SETFD, FD_CLOEXEC);
  ::fcntl(p.FSlave, F_SETFD, FD_CLOEXEC);
  return p;
}

TPtyPair::TPtyPair(TPtyPair&& other) noexcept { *this = std::move(other); }

TPtyPair& TPtyPair::operator=(TPtyPair&& other) noexcept {
  if (this != &other) {
    Close();
    FMaster = std::exchange(other.FMaster, -1);
    FSlave = std::exchange(other.FSlave, -1);
    FPath = other.FPath;
  }
  return *this;
}

void TPtyPair::Close() {
  if (FSlave >= 0) ::close(FSlave);
  if (FMaster >= 0) ::close(FMaster);
  FSlave = FMaster = -1;
}

TSimulator::TSimulator(TGeneratorModel model, TSimOptions options)
    : TSimulator(std::move(model), TPtyPair::Open(), std::move(options)) {}

TSimulator::TSimulator(TGeneratorModel model, TPtyPair line, TSimOptions options)
    : FModel(std::move(model)),
      FLine(std::move(line)),
      FPath(FLine.Path()),
      FOptions(std::move(options)),
      FRandom(FOptions.Seed),
      FStarted(Clock::now()) {
  if (!FLine.IsOpen()) throw std::invalid_argument("simulator needs an open line");
  if (::pipe2(FWake, O_CLOEXEC | O_NONBLOCK) != 0) Fail("pipe");
}

TSimulator::~TSimulator() {
  Stop();
  ::close(FWake[0]);
  ::close(FWake[1]);
}

void TSimulator::Start() {
  if (FThread.joinable()) return;
  FStopping = false;
  FStarted = Clock::now();
  FThread = std::thread(&TSimulator::Run, this);
}

void TSimulator::Stop() {
  if (!FThread.joinable()) return;
  FStopping = true;
  Wake();
  FThread.join();
  FPending.clear();
}

void TSimulator::HangUp() {
  if (!FThread.joinable()) {
    if (FLine.IsOpen()) Close("line closed");
    return;
  }
  FHangUpWanted = true;
  Wake();
  // The serving thread owns the line while it runs; it answers at once.
  while (!HungUp()) std::this_thread::sleep_for(milliseconds(1));
}

void TSimulator::Wake() {
  const char c = 1;
  [[maybe_unused]] const ssize_t w = ::write(FWake[1], &c, 1);  // a full pipe wakes as well
}

std::vector<TEvent> TSimulator::Events() const {
  std::lock_guard<std::mutex> lock(FEventMutex);
  return {FEvents.begin(), FEvents.end()};
}

void TSimulator::Record(EEvent kind, std::string bytes, std::string note, Clock::time_point now) {
  if (FOptions.Log) {
    const double seconds = std::chrono::duration<double>(now - FStarted).count();
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%10.3f %-6s ", seconds, Tag(kind));
    std::string line = stamp + Printable(bytes);
    if (!note.empty()) line += (bytes.empty() ? "" : "  ") + ("(" + note + ")");
    FOptions.Log(TEvent{now, kind, bytes, note}, line);
  }
  if (!FOptions.Record) return;
  std::lock_guard<std::mutex> lock(FEventMutex);
  FEvents.push_back({now, kind, std::move(bytes), std::move(note)});
  if (FEvents.size() > kMaxEvents) FEvents.pop_front();
}

void TSimulator::Run() {
  const auto never = Clock::time_point::max();
  const auto hangUpAt = FOptions.HangUpAfterMs >= 0 ? FStarted + milliseconds(FOptions.HangUpAfterMs) : never;
  auto noiseGap = [this] { return milliseconds(std::uniform_int_distribution<int>(100, 400)(FRandom)); };
  auto nextNoise = FOptions.Noise ? Clock::now() + noiseGap() : never;
  while (!FStopping) {
    const auto now = Clock::now();
    if (FLine.IsOpen() && (FHangUpWanted || now >= hangUpAt)) Close("line closed");
    while (!FPending.empty() && FPending.front().Due <= now) {
      Send(FPending.front());
      FPending.pop_front();
    }
    if (FLine.IsOpen() && now >= nextNoise) {
      if (FPending.empty()) {
        SendNoise();
        nextNoise = now + noiseGap();
      } else {
        nextNoise = FPending.front().Due;  // after that reply, never inside it
      }
    }
    auto next = never;
    if (!FPending.empty()) next = FPending.front().Due;
    if (FLine.IsOpen()) next = std::min({next, nextNoise, hangUpAt});
    int timeout = -1;
    if (next != never) {
      // Rounded up so that nothing is due early and the loop never spins.
      const auto left = std::chrono::ceil<milliseconds>(next - now).count();
      timeout = static_cast<int>(std::clamp<long long>(left, 0, 60000));
    }
    pollfd fds[2] = {{FWake[0], POLLIN, 0}, {FLine.Master(), POLLIN, 0}};
    const nfds_t count = FLine.IsOpen() ? 2 : 1;
    if (::poll(fds, count, timeout) < 0) {
      if (errno != EINTR) std::this_thread::sleep_for(milliseconds(100));  // not seen in practice; never spin
      continue;
    }
    if (fds[0].revents & POLLIN) {
      char drain[64];
      while (::read(FWake[0], drain, sizeof drain) > 0) {
      }
    }
    if (count == 2 && fds[1].revents != 0) Receive();
  }
}

void TSimulator::Receive() {
  char buf[256];
  const ssize_t n = ::read(FLine.Master(), buf, sizeof buf);
  if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
  if (n <= 0) {
    Close(std::string("line lost: ") + (n == 0 ? "end of file" : std::strerror(errno)));
    return;
  }
  const auto now = Clock::now();
  std::vector<TFrameResult> results;
  {
    std::lock_guard<std::mutex> lock(FModelMutex);
    results = FModel.Feed({buf, static_cast<size_t>(n)});
  }
  const auto delay = milliseconds(FOptions.LateMs > 0 ? FOptions.LateMs : FOptions.DelayMs);
  for (TFrameResult& r : results) {
    if (!r.Reply.empty() && FOptions.Silent) {
      r.Note += r.Note.empty() ? "silent: no reply" : "; silent: no reply";
      r.Reply.clear();
    }
    Record(EEvent::Received, std::move(r.Frame), std::move(r.Note), now);  // when it came, not when parsed
    if (!r.Reply.empty()) FPending.push_back({now + delay, std::move(r.Reply)});
  }
}

void TSimulator::Send(const TPending& reply) {
  std::uniform_real_distribution<double> chance(0.0, 1.0);
  if (FOptions.Drop > 0 && chance(FRandom) < FOptions.Drop) {
    Record(EEvent::Dropped, reply.Bytes, {});
    return;
  }
  std::string out = reply.Bytes;
  int garbled = 0;
  if (FOptions.Garble > 0)
    for (char& c : out)
      if (chance(FRandom) < FOptions.Garble) {
        c = static_cast<char>(c ^ std::uniform_int_distribution<int>(1, 255)(FRandom));
        ++garbled;
      }
  // Recorded first: whoever has read the reply finds it among the events.
  Record(EEvent::Sent, out, garbled > 0 ? "garbled " + std::to_string(garbled) + " bytes" : "");
  // One write: stray bytes can only come before or after a reply.
  const ssize_t w = std::max<ssize_t>(::write(FLine.Master(), out.data(), out.size()), 0);
  if (static_cast<size_t>(w) < out.size()) Record(EEvent::Dropped, out.substr(static_cast<size_t>(w)), "line full");
}

void TSimulator::SendNoise() {
  std::string bytes(static_cast<size_t>(std::uniform_int_distribution<int>(1, 3)(FRandom)), '\0');
  for (char& c : bytes) c = static_cast<char>(std::uniform_int_distribution<int>(0, 255)(FRandom));
  // Nobody reading the terminal fills it up; stray bytes are no loss then.
  const ssize_t w = ::write(FLine.Master(), bytes.data(), bytes.size());
  if (w > 0) Record(EEvent::Noise, bytes.substr(0, static_cast<size_t>(w)), {});
}

void TSimulator::Close(const std::string& why) {
  FPending.clear();
  // Whoever sees the line drop finds the event recorded and HungUp() true.
  Record(EEvent::HungUp, {}, why);
  std::lock_guard<std::mutex> lock(FLineMutex);
  FLine.Close();
  FHungUp = true;
}

bool TSimulator::HungUp() const {
  std::lock_guard<std::mutex> lock(FLineMutex);
  return FHungUp;
}

}  // namespace vxsim

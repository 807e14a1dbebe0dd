// SPDX-License-Identifier: MIT
// Serves a generator model on the master side of a pseudo-terminal, in a
// thread of its own, with the faults a real line and generator show.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "GeneratorModel.h"

namespace vxsim {

// A pseudo-terminal pair.  The master is raw and non-blocking; the terminal
// end stays open here too, so the pair outlives the panel closing its port.
class TPtyPair {
 public:
  static TPtyPair Open();  // throws std::system_error
  TPtyPair() = default;
  TPtyPair(TPtyPair&& other) noexcept;
  TPtyPair& operator=(TPtyPair&& other) noexcept;
  ~TPtyPair() { Close(); }

  int Master() const { return FMaster; }
  const std::string& Path() const { return FPath; }  // the terminal to open, e.g. /dev/pts/3
  bool IsOpen() const { return FMaster >= 0; }
  // Closes both ends: whoever has the terminal open sees the line hang up.
  void Close();

 private:
  int FMaster = -1;
  int FSlave = -1;
  std::string FPath;
};

enum class EEvent { Received, Sent, Dropped, Noise, HungUp };

struct TEvent {
  std::chrono::steady_clock::time_point When;
  EEvent Kind = EEvent::Received;
  std::string Bytes;  // the frame, reply or stray bytes as they were on the line
  std::string Note;
};

struct TSimOptions {
  int DelayMs = 5;              // from a query to its reply
  int LateMs = 0;               // > 0: replies this long after their query instead
  bool Silent = false;          // answers nothing
  double Drop = 0;              // share of replies left unsent, 0..1
  double Garble = 0;            // chance that a reply byte is corrupted, 0..1
  bool Noise = false;           // stray bytes now and then, never inside a reply
  int HangUpAfterMs = -1;       // >= 0: closes the line this long after Start()
  std::uint32_t Seed = 1;       // for drop, garble and noise
  bool Record = true;           // keep events for Events()
  // Called on the serving thread for each event, with it as a readable,
  // timestamped line.
  std::function<void(const TEvent&, const std::string&)> Log;
};

class TSimulator {
 public:
  // Opens a pair of its own; throws std::system_error when none can be made.
  explicit TSimulator(TGeneratorModel model, TSimOptions options = {});
  // Serves on the given open pair.
  TSimulator(TGeneratorModel model, TPtyPair line, TSimOptions options = {});
  ~TSimulator();
  TSimulator(const TSimulator&) = delete;
  TSimulator& operator=(const TSimulator&) = delete;

  const std::string& Path() const { return FPath; }
  void Start();
  void Stop();  // returns when the serving thread has ended; replies not yet due are lost
  // Unplugs the line now, as HangUpAfterMs would.
  void HangUp();
  bool HungUp() const;

  // Everything received and sent so far, oldest first (the last kMaxEvents).
  // A reply is recorded just before it is written: once the panel has it,
  // its event is here.
  std::vector<TEvent> Events() const;
  static constexpr size_t kMaxEvents = 100000;

  // Runs f on the model while the serving thread keeps off it.
  template <class F>
  auto WithModel(F&& f) {
    std::lock_guard<std::mutex> lock(FModelMutex);
    return f(FModel);
  }

 private:
  struct TPending {
    std::chrono::steady_clock::time_point Due;
    std::string Bytes;
  };
  void Run();
  void Receive();
  void Send(const TPending& reply);
  void SendNoise();
  void Close(const std::string& why);
  void Record(EEvent kind, std::string bytes, std::string note,
              std::chrono::steady_clock::time_point when = std::chrono::steady_clock::now());
  void Wake();

  TGeneratorModel FModel;
  TPtyPair FLine;
  std::string FPath;
  TSimOptions FOptions;
  std::mt19937 FRandom;
  int FWake[2] = {-1, -1};
  std::thread FThread;
  std::atomic<bool> FStopping{false};
  std::atomic<bool> FHangUpWanted{false};
  std::chrono::steady_clock::time_point FStarted;
  std::deque<TPending> FPending;
  mutable std::mutex FLineMutex;  // closing the line against HungUp()
  bool FHungUp = false;
  mutable std::mutex FModelMutex;
  mutable std::mutex FEventMutex;
  std::deque<TEvent> FEvents;
};

}  // namespace vxsim

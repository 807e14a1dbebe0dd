// SPDX-License-Identifier: MIT
// The simulator serving its model on a pseudo-terminal, seen from the
// panel's end of the line.

#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Pty.h"
#include "Simulator.h"
#include "Terminal.h"

namespace vxsim {
namespace {

using cport::test::WaitUntil;
using std::chrono::milliseconds;
using test::TTerminal;

TGeneratorModel ExactModel() {
  TModelOptions o;
  o.Wobble = 0;
  return TGeneratorModel(o);
}

std::vector<TEvent> OfKind(const TSimulator& sim, EEvent kind) {
  std::vector<TEvent> out;
  for (TEvent& e : sim.Events())
    if (e.Kind == kind) out.push_back(std::move(e));
  return out;
}

const TEvent* Find(const std::vector<TEvent>& events, EEvent kind, const std::string& bytes) {
  for (const TEvent& e : events)
    if (e.Kind == kind && e.Bytes == bytes) return &e;
  return nullptr;
}

TEST(SimulatorLine, AnswersQueriesAfterTheDelayAndStoresSets) {
  std::mutex lock;
  std::vector<std::string> log;
  TSimOptions o;
  o.Log = [&](const TEvent&, const std::string& line) {
    std::lock_guard<std::mutex> l(lock);
    log.push_back(line);
  };
  TSimulator sim(ExactModel(), o);
  sim.Start();
  TTerminal panel(sim.Path());

  panel.Send("#05p00070\r%05p\r%@05SR\r");
  EXPECT_EQ(panel.Receive(19), "#02p00070\r#02SR016\r");
  EXPECT_EQ(sim.WithModel([](TGeneratorModel& m) { return m.Value('p'); }), 70);

  sim.WithModel([](TGeneratorModel& m) { m.SetPotentiometer(123); });
  panel.Send("%05t\r");
  EXPECT_EQ(panel.Receive(10), "#02t00123\r");
  EXPECT_EQ(panel.Drain(100), "") << "the generator never speaks unasked";

  const auto events = sim.Events();
  const TEvent* query = Find(events, EEvent::Received, "%05p\r");
  const TEvent* reply = Find(events, EEvent::Sent, "#02p00070\r");
  ASSERT_TRUE(query && reply);
  EXPECT_LT(query, reply);
  EXPECT_GE(reply->When - query->When, milliseconds(o.DelayMs));
  ASSERT_TRUE(Find(events, EEvent::Received, "#05p00070\r"));
  EXPECT_EQ(OfKind(sim, EEvent::Sent).size(), 3u);

  std::lock_guard<std::mutex> l(lock);
  auto logged = [&](const std::string& text) {
    for (const std::string& line : log)
      if (line.find(text) != std::string::npos) return true;
    return false;
  };
  EXPECT_TRUE(logged("rx     %05p\\r")) << testing::PrintToString(log);
  EXPECT_TRUE(logged("tx     #02p00070\\r")) << testing::PrintToString(log);
  EXPECT_TRUE(logged("(power 70)")) << testing::PrintToString(log);
}

TEST(SimulatorLine, FrameSplitAcrossWritesIsAnsweredOnce) {
  TSimulator sim(ExactModel());
  sim.Start();
  TTerminal panel(sim.Path());
  for (const char* part : {"%0", "5", "?", "\r"}) {
    panel.Send(part);
    std::this_thread::sleep_for(milliseconds(20));  // lets each part arrive as a read of its own
  }
  EXPECT_EQ(panel.Receive(21), "#02?0000000300000000\r");
  ASSERT_EQ(OfKind(sim, EEvent::Received).size(), 1u);
  EXPECT_EQ(OfKind(sim, EEvent::Received)[0].Bytes, "%05?\r");
}

TEST(SimulatorLine, GarbageIsIgnoredAndTheNextFrameAnswered) {
  TSimulator sim(ExactModel());
  sim.Start();
  TTerminal panel(sim.Path());
  panel.Send(std::string("\xff\x00junk\r", 7) + std::string(300, 'z') + "#05q12\r%05f\r");
  EXPECT_EQ(panel.Receive(10), "#02f15500\r");
  EXPECT_EQ(panel.Drain(100), "");
}

TEST(SimulatorLine, OutlivesThePanelClosingItsPortAndARestart) {
  TSimulator sim(ExactModel());
  sim.Start();
  {
    TTerminal panel(sim.Path());
    panel.Send("%05w\r");
    EXPECT_EQ(panel.Receive(10), "#02w00100\r");
  }
  sim.Stop();
  sim.Start();
  TTerminal again(sim.Path());
  again.Send("%05w\r");
  EXPECT_EQ(again.Receive(10), "#02w00100\r");
  EXPECT_FALSE(sim.HungUp());
}

TEST(SimulatorFault, SilentAnswersNothing) {
  TSimOptions o;
  o.Silent = true;
  TSimulator sim(ExactModel(), o);
  sim.Start();
  TTerminal panel(sim.Path());
  panel.Send("%05f\r#05p00060\r");
  ASSERT_TRUE(WaitUntil([&] { return OfKind(sim, EEvent::Received).size() == 2; }));
  EXPECT_EQ(panel.Drain(300), "");
  EXPECT_TRUE(OfKind(sim, EEvent::Sent).empty());
  EXPECT_EQ(sim.WithModel([](TGeneratorModel& m) { return m.Value('p'); }), 60) << "still listens";
}

TEST(SimulatorFault, DropAllLeavesEveryReplyUnsent) {
  TSimOptions o;
  o.Drop = 1;
  TSimulator sim(ExactModel(), o);
  sim.Start();
  TTerminal panel(sim.Path());
  panel.Send("%05f\r");
  ASSERT_TRUE(WaitUntil([&] { return OfKind(sim, EEvent::Dropped).size() == 1; }));
  EXPECT_EQ(panel.Drain(100), "");
}

TEST(SimulatorFault, DropShareLosesSomeRepliesWholeAndSendsTheRest) {
  TSimOptions o;
  o.Drop = 0.5;
  o.Seed = 3;
  TSimulator sim(ExactModel(), o);
  sim.Start();
  TTerminal panel(sim.Path());
  constexpr size_t kQueries = 40;
  for (size_t i = 1; i <= kQueries; ++i) {
    panel.Send("%05p\r");
    ASSERT_TRUE(WaitUntil([&] {
      return OfKind(sim, EEvent::Sent).size() + OfKind(sim, EEvent::Dropped).size() == i;
    }));
  }
  const size_t sent = OfKind(sim, EEvent::Sent).size();
  EXPECT_GT(sent, 0u);
  EXPECT_LT(sent, kQueries);
  std::string expected;
  for (size_t i = 0; i < sent; ++i) expected += "#02p00050\r";
  EXPECT_EQ(panel.Receive(expected.size()), expected);
  EXPECT_EQ(panel.Drain(100), "");
}

TEST(SimulatorFault, GarbleAllCorruptsEveryByteOfTheReply) {
  TSimOptions o;
  o.Garble = 1;
  TSimulator sim(ExactModel(), o);
  sim.Start();
  TTerminal panel(sim.Path());
  panel.Send("%05f\r");
  const std::string got = panel.Receive(10);
  const std::string good = "#02f15500\r";
  ASSERT_EQ(got.size(), good.size());
  for (size_t i = 0; i < good.size(); ++i) EXPECT_NE(got[i], good[i]) << "byte " << i;
  ASSERT_EQ(OfKind(sim, EEvent::Sent).size(), 1u);
  EXPECT_EQ(OfKind(sim, EEvent::Sent)[0].Bytes, got);
}

TEST(SimulatorFault, NoiseComesBetweenRepliesNeverInside) {
  TSimOptions o;
  o.Noise = true;
  o.Seed = 5;
  TSimulator sim(ExactModel(), o);
  sim.Start();
  TTerminal panel(sim.Path());
  std::string stream;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  size_t replies = 0;
  while (OfKind(sim, EEvent::Noise).size() < 3 && std::chrono::steady_clock::now() < deadline) {
    panel.Send("%05t\r");
    ++replies;
    ASSERT_TRUE(WaitUntil([&] { return OfKind(sim, EEvent::Sent).size() == replies; }));
    stream += panel.Drain(20);
  }
  sim.Stop();
  stream += panel.Drain(200);
  ASSERT_GE(OfKind(sim, EEvent::Noise).size(), 3u);

  // The line carries exactly the replies and the stray bytes, each whole and
  // in the order they were written.
  std::string written;
  for (const TEvent& e : sim.Events())
    if (e.Kind == EEvent::Sent || e.Kind == EEvent::Noise) written += e.Bytes;
  EXPECT_EQ(Printable(stream), Printable(written));
  for (const TEvent& e : OfKind(sim, EEvent::Sent)) EXPECT_EQ(e.Bytes, "#02t00040\r");
}

TEST(SimulatorFault, LateRepliesComeAfterThePanelsRead) {
  TSimOptions o;
  o.LateMs = 80;
  TSimulator sim(ExactModel(), o);
  sim.Start();
  TTerminal panel(sim.Path());
  panel.Send("%05m\r");
  EXPECT_EQ(panel.Receive(10), "#02m00050\r");
  const auto events = sim.Events();
  const TEvent* query = Find(events, EEvent::Received, "%05m\r");
  const TEvent* reply = Find(events, EEvent::Sent, "#02m00050\r");
  ASSERT_TRUE(query && reply);
  EXPECT_GE(reply->When - query->When, milliseconds(80));
}

TEST(SimulatorFault, HangUpAfterClosesTheLine) {
  TSimOptions o;
  o.HangUpAfterMs = 200;
  TSimulator sim(ExactModel(), o);
  const auto before = std::chrono::steady_clock::now();
  sim.Start();
  TTerminal panel(sim.Path());
  ASSERT_TRUE(WaitUntil([&] { return panel.HungUp(); }));
  EXPECT_TRUE(sim.HungUp());
  const auto hangups = OfKind(sim, EEvent::HungUp);
  ASSERT_EQ(hangups.size(), 1u);
  EXPECT_GE(hangups[0].When - before, milliseconds(200));
}

TEST(SimulatorFault, HangUpOnRequestClosesTheLineAtOnce) {
  TSimulator sim(ExactModel());
  sim.Start();
  TTerminal panel(sim.Path());
  panel.Send("%05p\r");
  EXPECT_EQ(panel.Receive(10), "#02p00050\r");
  sim.HangUp();
  EXPECT_TRUE(sim.HungUp());
  EXPECT_TRUE(panel.HungUp());
}

}  // namespace
}  // namespace vxsim

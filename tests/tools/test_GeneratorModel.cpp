// SPDX-License-Identifier: MIT
// The simulated generator's protocol, driven directly without a line.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "GeneratorModel.h"

namespace vxsim {
namespace {

TModelOptions Exact(TModelOptions o = {}) {
  o.Wobble = 0;
  return o;
}

// Everything the model answers to bytes, in order.
std::string Ask(TGeneratorModel& m, std::string_view bytes) {
  std::string replies;
  for (const TFrameResult& r : m.Feed(bytes)) replies += r.Reply;
  return replies;
}

const std::string kOffStatus = "#02?0000000300000000\r";

struct TQueryCase {
  const char* Name;
  std::string Query;
  std::string Reply;
};
void PrintTo(const TQueryCase& c, std::ostream* os) { *os << c.Name; }

class GeneratorModelQuery : public testing::TestWithParam<TQueryCase> {};

TEST_P(GeneratorModelQuery, AnswersWithItsStartValue) {
  TGeneratorModel m(Exact());
  EXPECT_EQ(Ask(m, GetParam().Query), GetParam().Reply);
}

INSTANTIATE_TEST_SUITE_P(
    EveryQuery, GeneratorModelQuery,
    testing::Values(TQueryCase{"Frequency", "%05f\r", "#02f15500\r"}, TQueryCase{"Power", "%05p\r", "#02p00050\r"},
                    TQueryCase{"PwmPeriod", "%05w\r", "#02w00100\r"}, TQueryCase{"PwmRatio", "%05m\r", "#02m00050\r"},
                    TQueryCase{"FastSweep", "%05s\r", "#02s00003\r"}, TQueryCase{"Sweep", "%05d\r", "#02d00007\r"},
                    TQueryCase{"TrackingRange", "%05r\r", "#02r00010\r"},
                    TQueryCase{"UltrasonicPower", "%05u\r", "#02u02048\r"},
                    TQueryCase{"Potentiometer", "%05t\r", "#02t00040\r"}, TQueryCase{"StatusOff", "%05?\r", kOffStatus},
                    TQueryCase{"Version", "%@05SR\r", "#02SR016\r"}),
    [](const auto& info) { return info.param.Name; });

struct TSetCase {
  const char* Name;
  char Letter;
  int Sent;
  int Kept;
};
void PrintTo(const TSetCase& c, std::ostream* os) { *os << c.Name; }

class GeneratorModelSet : public testing::TestWithParam<TSetCase> {};

TEST_P(GeneratorModelSet, StoresWhatARealGeneratorKeeps) {
  const TSetCase& c = GetParam();
  TGeneratorModel m(Exact());
  char frame[16];
  std::snprintf(frame, sizeof frame, "#05%c%05d\r", c.Letter, c.Sent);
  const auto results = m.Feed(frame);
  ASSERT_EQ(results.size(), 1u);
  EXPECT_EQ(results[0].Reply, "") << "set frames are never answered";
  EXPECT_EQ(results[0].Note.find("clamped") != std::string::npos, c.Sent != c.Kept) << results[0].Note;

  char reply[16];
  std::snprintf(reply, sizeof reply, "#02%c%05d\r", c.Letter, c.Kept);
  EXPECT_EQ(Ask(m, std::string("%05") + c.Letter + "\r"), reply);
  EXPECT_EQ(m.Value(c.Letter), c.Kept);
}

INSTANTIATE_TEST_SUITE_P(
    SetThenQuery, GeneratorModelSet,
    testing::Values(TSetCase{"PowerZero", 'p', 0, 0}, TSetCase{"PowerFull", 'p', 100, 100},
                    TSetCase{"PowerOverClamped", 'p', 150, 100}, TSetCase{"PwmPeriodZeroClamped", 'w', 0, 1},
                    TSetCase{"PwmPeriodMax", 'w', 100, 100}, TSetCase{"PwmRatioOver", 'm', 101, 100},
                    TSetCase{"FastSweepMax", 's', 255, 255}, TSetCase{"FastSweepOver", 's', 256, 255},
                    TSetCase{"SweepOver", 'd', 300, 255}, TSetCase{"TrackingRangeOver", 'r', 31, 30},
                    TSetCase{"UltrasonicMax", 'u', 4095, 4095}, TSetCase{"UltrasonicOver", 'u', 99999, 4095},
                    TSetCase{"FrequencyInside", 'f', 12345, 12345}, TSetCase{"FrequencyVariantMin", 'f', 11000, 11000},
                    TSetCase{"FrequencyBelowVariant", 'f', 10999, 11000},
                    TSetCase{"FrequencyAboveVariant", 'f', 20001, 20000}),
    [](const auto& info) { return info.param.Name; });

struct TVariantCase {
  const char* Name;
  const char* Version;
  int Min;
  int Max;
};
void PrintTo(const TVariantCase& c, std::ostream* os) { *os << c.Name; }

class GeneratorModelVariant : public testing::TestWithParam<TVariantCase> {};

TEST_P(GeneratorModelVariant, KeepsFrequencyInItsRange) {
  const TVariantCase& c = GetParam();
  TModelOptions o = Exact();
  o.Version = c.Version;
  TGeneratorModel m(o);
  EXPECT_EQ(Ask(m, "%@05SR\r"), std::string("#02SR") + c.Version + "\r");
  EXPECT_GE(m.Value('f'), c.Min);
  EXPECT_LE(m.Value('f'), c.Max);
  EXPECT_EQ(Ask(m, "#05f00000\r%05f\r"), "#02f" + std::to_string(c.Min) + "\r");
  EXPECT_EQ(Ask(m, "#05f99999\r%05f\r"), "#02f" + std::to_string(c.Max) + "\r");
}

INSTANTIATE_TEST_SUITE_P(
    Versions, GeneratorModelVariant,
    testing::Values(TVariantCase{"V10", "010", 21435, 40560}, TVariantCase{"V11", "011", 17460, 28520},
                    TVariantCase{"V12", "012", 24000, 45000}, TVariantCase{"V14", "014", 27700, 51800},
                    TVariantCase{"V15", "015", 30000, 50000}, TVariantCase{"V16", "016", 11000, 20000},
                    TVariantCase{"UnknownThird", "017", 11000, 51800},
                    TVariantCase{"UnknownSecond", "2x9", 11000, 51800}),
    [](const auto& info) { return info.param.Name; });

TEST(GeneratorModelVersion, RefusesWhatCannotBeSentAsThreeCharacters) {
  for (const char* bad : {"", "01", "0160", "0 6", "\r16"}) {
    TModelOptions o;
    o.Version = bad;
    EXPECT_THROW(TGeneratorModel{o}, std::invalid_argument) << Printable(bad);
  }
}

TEST(GeneratorModelState, OffUntilStartOnUntilStop) {
  TGeneratorModel m(Exact());
  EXPECT_EQ(Ask(m, "%05?\r"), kOffStatus);
  EXPECT_EQ(Ask(m, "@05start\r"), "");
  // At resonance with start values: phase centred, no tracking correction.
  EXPECT_EQ(Ask(m, "%05?\r"), "#02?5002450303503501\r");
  EXPECT_EQ(Ask(m, "@05stop\r"), "");
  EXPECT_EQ(Ask(m, "%05?\r"), kOffStatus);
}

TEST(GeneratorModelState, OutputFollowsPower) {
  TGeneratorModel m(Exact());
  m.Feed("@05start\r");
  int last = -1;
  for (int power : {0, 20, 60, 90}) {
    m.Set('p', power);
    const TMeasures now = m.Measure();
    EXPECT_EQ(now.State, '1');
    EXPECT_GT(now.Voltage, last) << "power " << power;
    EXPECT_GE(now.AcCurrent, now.Current);
    last = now.Voltage;
  }
}

TEST(GeneratorModelState, TrackingCorrectsDetuningWithinItsRange) {
  TGeneratorModel m(Exact());
  m.Feed("@05start\r");
  m.Set('f', m.Resonance() + 100);  // 5 tracking steps off
  EXPECT_EQ(m.Measure().Tracking, 25);
  EXPECT_EQ(m.Measure().Phase, 500);
  m.Set('r', 2);  // can correct only 2 steps: the rest shows in phase and current
  const TMeasures limited = m.Measure();
  EXPECT_EQ(limited.Tracking, 28);
  EXPECT_LT(limited.Phase, 500);
  m.Set('r', 10);
  EXPECT_LT(limited.Current, m.Measure().Current);
}

TEST(GeneratorModelState, WobbleStaysCloseAndRepeatsWithTheSeed) {
  TModelOptions o;
  o.Wobble = 4;
  o.Seed = 7;
  TGeneratorModel a(o), b(o), exact(Exact());
  for (auto* m : {&a, &b, &exact}) m->Feed("@05start\r");
  const TMeasures centre = exact.Measure();
  bool moved = false;
  for (int i = 0; i < 50; ++i) {
    const std::string first = Ask(a, "%05?\r");
    EXPECT_EQ(first, Ask(b, "%05?\r"));
    const TMeasures m = a.Measure();
    b.Measure();
    EXPECT_NEAR(m.Voltage, centre.Voltage, 4);
    EXPECT_NEAR(m.Phase, centre.Phase, 4);
    moved = moved || m.Voltage != centre.Voltage;
  }
  EXPECT_TRUE(moved) << "wobble never showed";
}

TEST(GeneratorModelFault, BlockingAndOvervoltageOptionsShowOnceStarted) {
  TModelOptions o = Exact();
  o.Blocking = true;
  TGeneratorModel blocking(o);
  EXPECT_EQ(blocking.State(), '0');
  blocking.Feed("@05start\r");
  EXPECT_EQ(Ask(blocking, "%05?\r"), "#02?0000000300000002\r");

  o.Blocking = false;
  o.Overvoltage = true;
  TGeneratorModel over(o);
  over.Feed("@05start\r");
  EXPECT_EQ(Ask(over, "%05?\r"), "#02?0000000300000003\r");
  over.Feed("@05stop\r");
  EXPECT_EQ(over.State(), '0');
}

TEST(GeneratorModelFault, VoltageOverTheLimitTripsUntilStop) {
  TGeneratorModel m(Exact());
  m.Feed("@05start\r#05p00100\r");
  EXPECT_EQ(m.State(), '1');
  const auto trip = m.Feed("#05u04095\r");
  ASSERT_EQ(trip.size(), 1u);
  EXPECT_NE(trip[0].Note.find("overvoltage"), std::string::npos) << trip[0].Note;
  EXPECT_EQ(Ask(m, "%05?\r"), "#02?0000000300000003\r");
  m.Feed("#05p00010\r");
  EXPECT_EQ(m.State(), '3') << "an overvoltage trip holds until stop";
  m.Feed("@05stop\r@05start\r");
  EXPECT_EQ(m.State(), '1');
}

TEST(GeneratorModelFault, OnlyAVoltageAboveTheLimitTrips) {
  struct {
    int Limit;
    char State;
  } cases[] = {{1000, '1'}, {999, '3'}};
  for (auto& c : cases) {
    TModelOptions o = Exact();
    o.VoltageLimit = c.Limit;
    TGeneratorModel m(o);
    m.Feed("@05start\r#05p00100\r#05u04095\r");
    EXPECT_EQ(m.State(), c.State) << "output 1000, limit " << c.Limit;
    if (m.State() == '1') {
      EXPECT_EQ(m.Measure().Voltage, 1000);
    }
  }
}

TEST(GeneratorModelStore, WriteKeepsTheSettingsOfThatMoment) {
  TGeneratorModel m(Exact());
  m.Feed("#05p00070\r");
  EXPECT_EQ(m.Stored('p'), 50);
  m.Feed("@05wr\r#05p00020\r");
  EXPECT_EQ(m.Stored('p'), 70);
  EXPECT_EQ(m.Value('p'), 20);
}

class GeneratorModelStoreFile : public testing::Test {
 protected:
  void SetUp() override {
    FDir = std::filesystem::temp_directory_path() / ("vxsim-store-" + std::to_string(::getpid()) + "-" +
                                                      testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(FDir);
  }
  void TearDown() override { std::filesystem::remove_all(FDir); }
  TModelOptions WithStore() {
    TModelOptions o = Exact();
    o.StoreFile = (FDir / "settings").string();
    return o;
  }
  void Write(const std::string& text) { std::ofstream(FDir / "settings", std::ios::binary) << text; }
  std::filesystem::path FDir;
};

TEST_F(GeneratorModelStoreFile, SurvivesIntoTheNextRun) {
  {
    TGeneratorModel first(WithStore());
    first.Feed("#05p00070\r#05f12000\r#05u01000\r@05wr\r#05p00010\r");
  }
  TGeneratorModel second(WithStore());
  const std::string note = second.LoadStore();
  EXPECT_NE(note.find("loaded"), std::string::npos) << note;
  EXPECT_EQ(Ask(second, "%05p\r%05f\r%05u\r%05w\r"), "#02p00070\r#02f12000\r#02u01000\r#02w00100\r");
  EXPECT_EQ(second.Stored('p'), 70);
}

TEST_F(GeneratorModelStoreFile, MissingFileMeansDefaults) {
  TGeneratorModel m(WithStore());
  const std::string note = m.LoadStore();
  EXPECT_NE(note.find("using default settings"), std::string::npos) << note;
  EXPECT_EQ(Ask(m, "%05p\r"), "#02p00050\r");
}

TEST_F(GeneratorModelStoreFile, CorruptFileIsReportedAndDefaultsUsed) {
  const std::string good = "f 12000\np 70\nw 100\nm 50\ns 3\nd 7\nr 10\nu 2048\n";
  const struct {
    const char* Why;
    std::string Text;
  } cases[] = {
      {"empty", ""},
      {"garbage", "hello world\n"},
      {"binary", std::string("\0\xff\x01p 70\n", 8)},
      {"missing setting", "f 12000\np 70\n"},
      {"out of range", "f 12000\np 150\n" + good.substr(good.find("w"))},
      {"negative", "f 12000\np -5\n" + good.substr(good.find("w"))},
      {"twice", good + "p 60\n"},
      {"trailing text", "p 70 percent\n"},
  };
  for (const auto& c : cases) {
    Write(c.Text);
    TGeneratorModel m(WithStore());
    const std::string note = m.LoadStore();
    EXPECT_NE(note.find("using default settings"), std::string::npos) << c.Why << ": " << note;
    EXPECT_EQ(m.Value('p'), 50) << c.Why;
    EXPECT_EQ(m.Value('f'), m.Resonance()) << c.Why;
  }
  Write(good);
  TGeneratorModel m(WithStore());
  m.LoadStore();
  EXPECT_EQ(m.Value('p'), 70) << "the good file itself loads";
}

TEST_F(GeneratorModelStoreFile, FolderInsteadOfFileIsReported) {
  std::filesystem::create_directory(FDir / "settings");
  TGeneratorModel m(WithStore());
  const std::string note = m.LoadStore();
  EXPECT_NE(note.find("is a folder, using default settings"), std::string::npos) << note;
  const auto results = m.Feed("#05p00070\r@05wr\r");
  ASSERT_EQ(results.size(), 2u);
  EXPECT_NE(results[1].Note.find("cannot write"), std::string::npos) << results[1].Note;
  EXPECT_EQ(m.Stored('p'), 70);
}

TEST_F(GeneratorModelStoreFile, FrequencyOfAnotherVariantIsClamped) {
  Write("f 45000\np 70\nw 100\nm 50\ns 3\nd 7\nr 10\nu 2048\n");
  TGeneratorModel m(WithStore());
  const std::string note = m.LoadStore();
  EXPECT_NE(note.find("clamped to 20000"), std::string::npos) << note;
  EXPECT_EQ(m.Value('f'), 20000);
  EXPECT_EQ(m.Value('p'), 70);
}

TEST_F(GeneratorModelStoreFile, UnwritableFileKeepsTheSettingsInMemory) {
  TModelOptions o = WithStore();
  o.StoreFile = (FDir / "no-such-folder" / "settings").string();
  TGeneratorModel m(o);
  const auto results = m.Feed("#05p00070\r@05wr\r");
  ASSERT_EQ(results.size(), 2u);
  EXPECT_NE(results[1].Note.find("cannot write"), std::string::npos) << results[1].Note;
  EXPECT_EQ(m.Stored('p'), 70);
}

TEST(GeneratorModelLine, FrameSplitAcrossReadsIsAnsweredOnce) {
  TGeneratorModel m(Exact());
  const std::string frame = "%@05SR\r";
  std::string replies;
  for (size_t i = 0; i + 1 < frame.size(); ++i) replies += Ask(m, frame.substr(i, 1));
  EXPECT_EQ(replies, "") << "no reply before the carriage return";
  EXPECT_EQ(Ask(m, "\r"), "#02SR016\r");
}

TEST(GeneratorModelLine, SeveralFramesInOneReadAreAnsweredInOrder) {
  TGeneratorModel m(Exact());
  EXPECT_EQ(Ask(m, "%05p\r#05p00011\r%05p\r%05t\r"), "#02p00050\r#02p00011\r#02t00040\r");
}

struct TGarbageCase {
  const char* Name;
  std::string Bytes;
};
void PrintTo(const TGarbageCase& c, std::ostream* os) { *os << c.Name; }

class GeneratorModelGarbage : public testing::TestWithParam<TGarbageCase> {};

TEST_P(GeneratorModelGarbage, IsIgnoredAndTheNextFrameAnswered) {
  TGeneratorModel m(Exact());
  EXPECT_EQ(Ask(m, GetParam().Bytes), "");
  EXPECT_EQ(Ask(m, "%05p\r"), "#02p00050\r");
  EXPECT_EQ(m.State(), '0');
  for (char letter : TGeneratorModel::kSettings) EXPECT_EQ(m.Value(letter), TGeneratorModel(Exact()).Value(letter));
}

INSTANTIATE_TEST_SUITE_P(
    Line, GeneratorModelGarbage,
    testing::Values(
        TGarbageCase{"Text", "hello\r"}, TGarbageCase{"BinaryWithoutReturn", std::string("\0\x01\xff\x7f", 4)},
        TGarbageCase{"BareReturns", "\r\r\r"}, TGarbageCase{"LineFeed", "\n"},
        TGarbageCase{"ShortQuery", "%05\r"}, TGarbageCase{"QueryCutOff", "%0"},
        TGarbageCase{"ShortSet", "#05p1\r"}, TGarbageCase{"SetNotDigits", "#05pabcde\r"},
        TGarbageCase{"SetUnknownLetter", "#05x00010\r"}, TGarbageCase{"SetPotentiometer", "#05t00010\r"},
        TGarbageCase{"UnknownQuery", "%05x\r"}, TGarbageCase{"UnknownAction", "@05jump\r"},
        TGarbageCase{"EmptyAction", "@05\r"}, TGarbageCase{"QueryOtherAddress", "%07p\r"},
        TGarbageCase{"SetOtherAddress", "#07p00010\r"}, TGarbageCase{"StartOtherAddress", "@07start\r"},
        TGarbageCase{"StartWithoutLeader", "x05start\r"}, TGarbageCase{"VersionOtherAddress", "%@07SR\r"},
        TGarbageCase{"OverlongSet", "#05p" + std::string(1000, '0') + "\r"},
        TGarbageCase{"OverlongWithoutReturn", std::string(5000, 'a')}),
    [](const auto& info) { return info.param.Name; });

TEST(GeneratorModelLine, OverlongLineIsBoundedAndReportedWithItsLength) {
  TGeneratorModel m(Exact());
  EXPECT_TRUE(m.Feed(std::string(100000, '7')).empty());
  const auto results = m.Feed("\r");
  ASSERT_EQ(results.size(), 1u);
  EXPECT_LE(results[0].Frame.size(), static_cast<size_t>(TGeneratorModel::kMaxFrame) + 1);
  EXPECT_NE(results[0].Note.find("100000 bytes"), std::string::npos) << results[0].Note;
}

TEST(Printable, ShowsControlBytesReadably) {
  EXPECT_EQ(Printable("%05f\r"), "%05f\\r");
  EXPECT_EQ(Printable(std::string("a\0\n\xff", 4)), "a\\x00\\x0A\\xFF");
  EXPECT_EQ(Printable("back\\slash"), "back\\\\slash");
}

}  // namespace
}  // namespace vxsim

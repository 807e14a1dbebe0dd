// SPDX-License-Identifier: MIT
// The per-user settings store on its INI file: opening keys, typed reads and
// writes, and the three failures.
#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include "AppTest.h"
#include "SettingsStore.h"

using namespace vxpanel;
using vxpanel::test::TPrivateSettings;

namespace {

constexpr const char* kKey = "\\Software\\Morvaleq\\KV\\ComPort";

class Store : public ::testing::Test {
 protected:
  TPrivateSettings Settings;
  TSettingsStore S;
};

// The failure a call raises: its kind and text, or nothing.
template <class F>
std::optional<std::pair<ESettingsError::EKind, std::string>> Failure(F&& f) {
  try {
    f();
  } catch (const ESettingsError& e) {
    return std::make_pair(e.Kind(), std::string(e.what()));
  }
  return std::nullopt;
}

}  // namespace

TEST_F(Store, AMissingKeyOpensOnlyWithCreate) {
  EXPECT_FALSE(S.OpenKey(kKey, false));
  EXPECT_FALSE(S.KeyOpen());
  EXPECT_TRUE(S.OpenKey(kKey, true));
  EXPECT_TRUE(S.KeyOpen());
  EXPECT_FALSE(QFile::exists(Settings.File())) << "opening writes nothing";
}

TEST_F(Store, WrittenValuesAreInTheFileAtOnceAndReadBack) {
  ASSERT_TRUE(S.OpenKey(kKey, true));
  S.WriteString("Port", "/dev/ttyUSB0");
  EXPECT_EQ(Settings.Values().at("Port"), "/dev/ttyUSB0") << "each write reaches the file";
  S.WriteInteger("DataBits", 3);
  S.WriteInteger("Offset", -7);
  S.CloseKey();

  TSettingsStore other;
  ASSERT_TRUE(other.OpenKey(kKey, false));
  EXPECT_EQ(other.ReadString("Port"), "/dev/ttyUSB0");
  EXPECT_EQ(other.ReadInteger("DataBits"), 3);
  EXPECT_EQ(other.ReadInteger("Offset"), -7);
  EXPECT_EQ(Settings.Values().at("DataBits"), "3");
}

TEST_F(Store, KeyPathsOtherThanSoftwareOrgAppKeyDoNotOpen) {
  for (const char* path : {"", "\\", "\\Software\\Morvaleq\\KV", "\\Hardware\\Morvaleq\\KV\\ComPort"})
    EXPECT_FALSE(S.OpenKey(path, true)) << path;
}

TEST_F(Store, IntegersMustBeOneThirtyTwoBitDecimalNumber) {
  const struct {
    const char* Stored;
    std::optional<int32_t> Value;  // nothing: the invalid-data-type failure
  } cases[] = {
      {"3", 3},           {"0", 0},        {"-12", -12},      {"2147483647", 2147483647},
      {"2147483648", {}}, {"3x", {}},      {"x3", {}},        {"COM3", {}},
      {"\"\"", {}},       {"1.5", {}},     {"0x10", {}},      {"1, 2", {}},
  };
  for (const auto& c : cases) {
    Settings.Write({QString("DataBits=") + c.Stored});
    ASSERT_TRUE(S.OpenKey(kKey, false)) << c.Stored;
    const auto failure = Failure([&] {
      const int32_t v = S.ReadInteger("DataBits");
      EXPECT_EQ(v, c.Value) << c.Stored;
    });
    if (c.Value) {
      EXPECT_FALSE(failure) << c.Stored;
    } else {
      ASSERT_TRUE(failure) << c.Stored;
      EXPECT_EQ(failure->first, ESettingsError::InvalidType) << c.Stored;
      EXPECT_EQ(failure->second, "Invalid data type for 'DataBits'");
    }
  }
}

TEST_F(Store, MissingValues) {
  Settings.Write({"Port=COM3"});
  ASSERT_TRUE(S.OpenKey(kKey, false));
  const auto f = Failure([&] { S.ReadInteger("Parity"); });
  ASSERT_TRUE(f);
  EXPECT_EQ(f->first, ESettingsError::GetData);
  EXPECT_EQ(f->second, "Failed to get data for 'Parity'");
  EXPECT_EQ(S.ReadString("Missing"), "") << "a missing text reads as empty";
}

TEST_F(Store, TextValuesMustBeText) {
  Settings.Write({"Port=COM1, COM2", "Empty="});
  ASSERT_TRUE(S.OpenKey(kKey, false));
  const auto f = Failure([&] { S.ReadString("Port"); });
  ASSERT_TRUE(f);
  EXPECT_EQ(f->second, "Invalid data type for 'Port'");
  EXPECT_EQ(S.ReadString("Empty"), "");
}

TEST_F(Store, OrdinalsOutsideTheirEnumerationAreRefusedLikeMissingOnes) {
  const struct {
    const char* Stored;
    std::optional<int32_t> Value;
  } cases[] = {{"0", 0}, {"3", 3}, {"4", {}}, {"-1", {}}, {"259", {}}};
  for (const auto& c : cases) {
    Settings.Write({QString("DataBits=") + c.Stored});
    ASSERT_TRUE(S.OpenKey(kKey, false));
    const auto f = Failure([&] { EXPECT_EQ(S.ReadOrdinal("DataBits", 4), c.Value); });
    if (c.Value) {
      EXPECT_FALSE(f) << c.Stored;
    } else {
      ASSERT_TRUE(f) << c.Stored;
      EXPECT_EQ(f->second, "Failed to get data for 'DataBits'") << c.Stored;
    }
  }
}

TEST_F(Store, AFolderThatCannotBeMadeFailsAtTheFirstWrite) {
  Settings.Block();
  EXPECT_FALSE(S.OpenKey(kKey, true));
  const auto f = Failure([&] { S.WriteString("Port", "COM1"); });
  ASSERT_TRUE(f);
  EXPECT_EQ(f->first, ESettingsError::SetData);
  EXPECT_EQ(f->second, "Failed to set data for 'Port'");
}

TEST_F(Store, AWriteThatCannotBeSavedNamesItsValue) {
  ASSERT_TRUE(S.OpenKey(kKey, true));
  S.WriteString("Port", "COM1");
  // The file's place becomes a folder: it can be neither replaced nor written.
  ASSERT_TRUE(QFile::remove(Settings.File()));
  ASSERT_TRUE(QDir().mkpath(Settings.File() + "/blocked"));
  const auto f = Failure([&] { S.WriteInteger("DataBits", 3); });
  ASSERT_TRUE(f);
  EXPECT_EQ(f->second, "Failed to set data for 'DataBits'");
}

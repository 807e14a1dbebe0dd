// The "cport" catalog in the user's language: German where it exists, the
// texts as written where it does not (the language is set by main before
// anything else runs, as for a user).
#include <gtest/gtest.h>

#include <QGroupBox>
#include <QLabel>
#include <QPushButton>

#include "CPortSetup.h"
#include "RecordingDriver.h"

using namespace cport;

namespace {

const bool kGerman = std::string(VX_TEST_LANGUAGE) == "de";

TEST(Catalog, ErrorTextsAndSuffix) {
  if (kGerman) {
    EXPECT_EQ(PortErrorTexts()[1], "Die serielle Schnittstelle kann nicht geöffnet werden");
    EXPECT_EQ(PortErrorTexts()[23], "Fehler in der Registrierung");
    EXPECT_STREQ(EComPort(1, 2).what(), "Die serielle Schnittstelle kann nicht geöffnet werden (Win-Fehlercode: 2)");
    EXPECT_STREQ(EComPort(4).what(), "Ungültiger Async-Parameter");
  } else {
    EXPECT_EQ(PortErrorTexts()[1], "Unable to open com port");
    EXPECT_STREQ(EComPort(1, 2).what(), "Unable to open com port (win error code: 2)");
  }
  for (int code = 1; code <= PortErrorCount; ++code) EXPECT_FALSE(PortErrorTexts()[code].empty()) << code;
}

TEST(Catalog, TheDialogSpeaksTheLanguageButItsSelectorsDoNot) {
  cport::test::TRecordingDriver d;
  d.SetPorts({"COM1"});
  TComSetupFrm f(nullptr, &d);
  if (kGerman) {
    EXPECT_EQ(f.windowTitle(), "Einstellungen");
    EXPECT_EQ(f.GroupBox1->title(), " Schnittstelle ");
    EXPECT_EQ(f.Label1->text(), "Anschluss");
    EXPECT_EQ(f.Label5->text(), "Parität");
    EXPECT_EQ(f.Label6->text(), "Flusssteuerung");
    EXPECT_EQ(f.Button2->text(), "Abbrechen");
  } else {
    EXPECT_EQ(f.windowTitle(), "Setup");
    EXPECT_EQ(f.Label1->text(), "Port");
    EXPECT_EQ(f.Button2->text(), "Cancel");
  }
  EXPECT_EQ(f.Button1->text(), "OK");
  EXPECT_EQ(f.Combo5->itemText(0), "None");
  EXPECT_EQ(f.Combo6->itemText(3), "Custom");
}

TEST(Catalog, IgnoredWidgetsKeepTheirTextsWhateverTheLetterCase) {
  QWidget form;
  auto* kept = new QLabel("Port", &form);
  kept->setObjectName("COMBO1");
  auto* translated = new QLabel("Port", &form);
  translated->setObjectName("Label1");
  auto* empty = new QLabel("", &form);  // must not become the catalog's header
  empty->setObjectName("Label2");
  InitPortErrorTexts();
  TranslateForm(&form, "cport", {"combo1"});
  EXPECT_EQ(kept->text(), "Port");
  EXPECT_EQ(translated->text(), kGerman ? "Anschluss" : "Port");
  EXPECT_EQ(empty->text(), "");
}

}  // namespace

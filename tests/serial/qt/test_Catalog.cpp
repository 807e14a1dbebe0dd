// SPDX-License-Identifier: MIT
// The "cport" catalog in the user's language: German where it exists, the
// texts as written where it does not (the language is set by main before
// anything else runs, as for a user).
#include <gtest/gtest.h>
#include <libintl.h>

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionComboBox>
#include <QStyleOptionGroupBox>
#include <QToolButton>
#include <fstream>
#include <set>

#include "CPortSetup.h"
#include "CPortTermSetup.h"
#include "RecordingDriver.h"

using namespace cport;

namespace {

const bool kGerman = std::string(VX_TEST_LANGUAGE) == "de";

// Every text the code passes through the domain, collected from the sources
// when the test was built.
std::set<std::string> CodeTexts() {
  std::ifstream in(VX_CPORT_MSGIDS, std::ios::binary);
  std::set<std::string> texts;
  for (std::string t; std::getline(in, t, '\0');) texts.insert(t);
  return texts;
}

TEST(Catalog, TheLanguagesCatalogIsFoundAndTheSuffixFillsItsNumber) {
  EXPECT_EQ(PortErrorTexts()[1] != "Unable to open com port", kGerman);
  const std::string text = EComPort(1).what();
  const std::string full = EComPort(1, 13).what();
  ASSERT_EQ(full.rfind(text, 0), 0u) << full;
  const std::string suffix = full.substr(text.size());
  EXPECT_TRUE(suffix.find("%") == std::string::npos && suffix.find("13") != std::string::npos) << suffix;
  EXPECT_EQ(suffix != " (win error code: 13)", kGerman) << suffix;
}

TEST(Catalog, EveryTextTheCodePassesThroughTheDomainHasAnEntry) {
  const auto texts = CodeTexts();
  ASSERT_TRUE(texts.count(" (win error code: %d)")) << "texts not collected";
  InitPortErrorTexts();  // binds the domain
  // Without an entry the lookup hands back the very text it was given, which
  // also tells an entry that keeps its text ("OK") from none.
  for (const auto& t : texts) EXPECT_EQ(dgettext("cport", t.c_str()) != t.c_str(), kGerman) << t;
  if (kGerman) return;
  // Untranslated, what the code shows is what was collected: no text escapes the check.
  for (int code = 1; code <= PortErrorCount; ++code) EXPECT_TRUE(texts.count(PortErrorTexts()[code])) << code;
  cport::test::TRecordingDriver d;
  TComSetupFrm f(nullptr, &d);
  QStringList shown{f.windowTitle(), f.GroupBox1->title()};
  for (auto* l : f.findChildren<QLabel*>()) shown << l->text();
  for (auto* b : f.findChildren<QPushButton*>()) shown << b->text();
  TComTermSetupFrm t;
  shown << t.windowTitle();
  for (auto* g : t.findChildren<QGroupBox*>()) shown << g->title();
  for (auto* l : t.findChildren<QLabel*>()) shown << l->text();
  for (auto* b : t.findChildren<QAbstractButton*>())
    if (b != t.FontButton && !b->text().isEmpty()) shown << b->text();
  shown << t.EmulationCombo->itemText(2);
  for (int i = 0; i < t.CursorCombo->count(); ++i) shown << t.CursorCombo->itemText(i);
  for (const auto& t : shown) EXPECT_TRUE(texts.count(t.toStdString())) << t.toStdString();
}

TEST(Catalog, TheDialogSpeaksTheLanguageButItsSelectorsDoNot) {
  cport::test::TRecordingDriver d;
  d.SetPorts({"COM1"});
  TComSetupFrm f(nullptr, &d);
  EXPECT_EQ(f.windowTitle() != "Setup", kGerman);
  EXPECT_EQ(f.GroupBox1->title() != " Settings ", kGerman);
  EXPECT_EQ(f.Label6->text() != "Flow control", kGerman);
  EXPECT_EQ(f.Button2->text() != "Cancel", kGerman);
  EXPECT_EQ(f.Combo5->itemText(0), "None");
  EXPECT_EQ(f.Combo6->itemText(3), "Custom");
}

void ExpectButtonTextFits(QAbstractButton* b) {
  QStyleOptionButton opt;
  opt.initFrom(b);
  opt.text = b->text();
  const QRect room = b->style()->subElementRect(QStyle::SE_PushButtonContents, &opt, b);
  EXPECT_LE(b->fontMetrics().horizontalAdvance(b->text()), room.width()) << b->text().toStdString();
}

void ExpectTitleFits(QGroupBox* g) {
  QStyleOptionGroupBox opt;
  opt.initFrom(g);
  opt.text = g->title();
  opt.textAlignment = g->alignment();
  opt.subControls = QStyle::SC_GroupBoxFrame | QStyle::SC_GroupBoxLabel;
  const QRect title = g->style()->subControlRect(QStyle::CC_GroupBox, &opt, QStyle::SC_GroupBoxLabel, g);
  EXPECT_TRUE(g->rect().contains(title)) << opt.text.toStdString();
}

TEST(Catalog, TheTerminalDialogAndItsListsSpeakTheLanguage) {
  TComTermSetupFrm f;
  EXPECT_EQ(f.windowTitle() != "Terminal settings", kGerman);
  EXPECT_EQ(f.LocalEchoCheck->text() != "Local echo", kGerman);
  EXPECT_EQ(f.EmulationCombo->itemText(2) != "None", kGerman);
  EXPECT_EQ(f.CursorCombo->itemText(1) != "Underline", kGerman);
  // Names of standards are no words of a language.
  EXPECT_EQ(f.EmulationCombo->itemText(0), "VT100");
  EXPECT_EQ(f.CharsetCombo->itemText(0), "UTF-8");
}

// The form's places are fixed, so every text must fit the room it has.
TEST(Catalog, EveryTextOfTheDialogFitsItsPlace) {
  cport::test::TRecordingDriver d;
  TComSetupFrm f(nullptr, &d);
  f.ensurePolished();
  QLabel* const labels[] = {f.Label1, f.Label2, f.Label3, f.Label4, f.Label5, f.Label6};
  for (int i = 0; i < 6; ++i) {
    const int right = labels[i]->x() + labels[i]->sizeHint().width();
    EXPECT_LE(right, f.Selector(i)->x()) << '"' << labels[i]->text().toStdString() << "\" reaches " << right;
  }
  for (QPushButton* b : f.findChildren<QPushButton*>()) ExpectButtonTextFits(b);
  ExpectTitleFits(f.GroupBox1);
}

TEST(Catalog, EveryTextOfTheTerminalDialogFitsItsPlace) {
  TComTermSetupFrm f;
  f.ensurePolished();
  const std::pair<QLabel*, QWidget*> beside[] = {
      {f.EmulationLabel, f.EmulationCombo}, {f.CharsetLabel, f.CharsetCombo}, {f.ColumnsLabel, f.ColumnsSpin},
      {f.RowsLabel, f.RowsSpin},           {f.ScrollBackLabel, f.ScrollBackSpin}, {f.FontLabel, f.FontButton},
      {f.CursorLabel, f.CursorCombo},      {f.ColorsLabel, f.ColorButtons[0]}};
  for (const auto& [label, box] : beside) {
    const int right = label->x() + label->sizeHint().width();
    EXPECT_LE(right, box->x()) << '"' << label->text().toStdString() << "\" reaches " << right;
  }
  for (QCheckBox* c : f.findChildren<QCheckBox*>()) {
    EXPECT_LE(c->sizeHint().width(), c->width()) << c->text().toStdString();
    EXPECT_LE(c->geometry().right(), c->parentWidget()->width()) << c->text().toStdString();
  }
  for (QPushButton* b : {f.OKButton, f.CancelButton}) ExpectButtonTextFits(b);
  for (QGroupBox* g : f.findChildren<QGroupBox*>()) {
    ExpectTitleFits(g);
    for (QWidget* w : g->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
      EXPECT_TRUE(g->rect().contains(w->geometry())) << w->objectName().toStdString();
  }
  for (QComboBox* box : {f.EmulationCombo, f.CursorCombo, f.CharsetCombo}) {
    QStyleOptionComboBox opt;
    opt.initFrom(box);
    const QRect room = box->style()->subControlRect(QStyle::CC_ComboBox, &opt, QStyle::SC_ComboBoxEditField, box);
    for (int i = 0; i < box->count(); ++i)
      EXPECT_LE(box->fontMetrics().horizontalAdvance(box->itemText(i)), room.width()) << box->itemText(i).toStdString();
  }
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
  EXPECT_EQ(translated->text() != "Port", kGerman);
  EXPECT_EQ(empty->text(), "");
}

}  // namespace

// SPDX-License-Identifier: MIT
// vxterm's catalog in the user's language: every text the code passes
// through the domain has its German entry, none escapes the collection, and
// every text of the window fits where it is shown, in English and German.
#include <gtest/gtest.h>
#include <libintl.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QToolBar>
#include <QToolButton>

#include <fstream>
#include <set>

#include "CPortLed.h"
#include "InputBar.h"
#include "Options.h"
#include "RecordingDriver.h"
#include "Texts.h"
#include "Window.h"

using namespace vxterm;

namespace {

const bool kGerman = std::string(VX_TEST_LANGUAGE) == "de";

std::set<std::string> CodeTexts() {
  std::ifstream in(VX_VXTERM_MSGIDS, std::ios::binary);
  std::set<std::string> texts;
  for (std::string t; std::getline(in, t, '\0');) texts.insert(t);
  return texts;
}

TEST(Catalog, EveryTextTheCodePassesThroughTheDomainHasAnEntry) {
  const auto texts = CodeTexts();
  ASSERT_TRUE(texts.count("Send file...")) << "texts not collected";
  Tr("");  // binds the domain
  // Without an entry the lookup hands back the very text it was given.
  for (const auto& t : texts) EXPECT_EQ(dgettext(kTextDomain, t.c_str()) != t.c_str(), kGerman) << t;
  EXPECT_EQ(Usage().rfind("usage:", 0) != 0, kGerman);
}

TEST(Catalog, EveryTextTheWindowShowsWasCollected) {
  if (kGerman) GTEST_SKIP() << "the collection holds the English texts";
  const auto texts = CodeTexts();
  cport::test::TRecordingDriver driver;
  TTermWindow w(TSettings(), nullptr, &driver);
  QStringList shown;
  for (QAction* a : w.findChildren<QAction*>())
    if (!a->text().isEmpty() && !a->text().startsWith('&')) shown << a->text() << a->toolTip();
  for (auto* b : w.findChildren<QToolBar*>()) shown << b->windowTitle();
  for (auto* l : w.Input().findChildren<QCheckBox*>()) shown << l->text() << l->toolTip();
  for (auto* b : w.Input().findChildren<QPushButton*>()) shown << b->text();
  for (auto* c : w.Input().findChildren<QComboBox*>())
    for (int i = 0; i < c->count(); ++i) shown << c->itemText(i);
  shown << w.Input().Edit()->placeholderText();
  for (auto* l : w.Lamps) shown << l->parentWidget()->toolTip();
  shown.removeAll(QString());
  for (const auto& t : shown) EXPECT_TRUE(texts.count(t.toStdString())) << t.toStdString();
}

// At its first size the window shows every action and lamp, none pushed
// into a bar's overflow; the input line's controls show their whole texts.
// Also when the size stored by the last session is too narrow for this
// language's texts: the window grows rather than hide lamps in an overflow.
class FirstSize : public ::testing::TestWithParam<bool> {};

TEST_P(FirstSize, ShowsEveryTextOfTheWindow) {
  cport::test::TRecordingDriver driver;
  TSettings settings;
  if (GetParam()) {
    TTermWindow narrow(TSettings(), nullptr, &driver);
    narrow.resize(320, 300);
    settings.Geometry = narrow.saveGeometry();
  }
  TTermWindow w(settings, nullptr, &driver);
  w.LineInputAction->setChecked(true);
  w.show();
  QApplication::processEvents();
  for (QToolBar* bar : w.findChildren<QToolBar*>()) {
    for (QAction* a : bar->actions()) {
      if (a->isSeparator()) continue;
      QWidget* shownBy = bar->widgetForAction(a);
      ASSERT_NE(shownBy, nullptr) << a->text().toStdString();
      EXPECT_TRUE(shownBy->isVisible()) << '"' << a->text().toStdString() << "\" is in the overflow";
      if (auto* b = qobject_cast<QToolButton*>(shownBy)) {
        EXPECT_GE(b->width(), b->sizeHint().width()) << a->text().toStdString();
      }
    }
  }
  for (auto* l : w.Lamps) EXPECT_TRUE(l->isVisible());
  for (QWidget* c : w.Input().findChildren<QWidget*>()) {
    if (!c->isVisible() || qobject_cast<QLineEdit*>(c)) continue;
    EXPECT_GE(c->width(), c->minimumSizeHint().width()) << c->metaObject()->className();
  }
}

INSTANTIATE_TEST_SUITE_P(Catalog, FirstSize, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "RestoredTooNarrow" : "Fresh"; });

}  // namespace

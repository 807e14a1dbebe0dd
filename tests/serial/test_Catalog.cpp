// The "cport" catalog in the user's language: German where it exists, the
// texts as written where it does not (the language is set by main before
// anything else runs, as for a user).
#include <gtest/gtest.h>
#include <libintl.h>

#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionGroupBox>
#include <fstream>
#include <iterator>
#include <set>

#include "CPortSetup.h"
#include "RecordingDriver.h"

using namespace cport;

namespace {

const bool kGerman = std::string(VX_TEST_LANGUAGE) == "de";

// Every text the code passes through the domain, collected from the sources
// when the test was built.
std::set<std::string> CodeTexts() {
  std::ifstream in(VX_CPORT_MSGIDS, std::ios::binary);
  const std::string all{std::istreambuf_iterator<char>(in), {}};
  std::set<std::string> texts;
  for (size_t begin = 0, end; (end = all.find('\0', begin)) != std::string::npos; begin = end + 1)
    texts.insert(all.substr(begin, end - begin));
  return texts;
}

std::vector<QString> FormTexts(const TComSetupFrm& f) {
  return {f.windowTitle(),  f.GroupBox1->title(), f.Label1->text(),  f.Label2->text(),  f.Label3->text(),
          f.Label4->text(), f.Label5->text(),     f.Label6->text(),  f.Button1->text(), f.Button2->text()};
}

TEST(Catalog, TheLanguagesCatalogIsFoundAndTheSuffixFillsItsNumber) {
  EXPECT_EQ(PortErrorTexts()[1] != "Unable to open com port", kGerman);
  const std::string text = EComPort(1).what();
  const std::string full = EComPort(1, 13).what();
  ASSERT_EQ(full.rfind(text, 0), 0u) << full;
  const std::string suffix = full.substr(text.size());
  EXPECT_EQ(suffix.find("%"), std::string::npos) << suffix;
  EXPECT_NE(suffix.find("13"), std::string::npos) << suffix;
  EXPECT_EQ(suffix != " (win error code: 13)", kGerman) << suffix;
}

TEST(Catalog, EveryTextTheCodePassesThroughTheDomainHasAnEntry) {
  const auto texts = CodeTexts();
  ASSERT_TRUE(texts.count(" (win error code: %d)") && texts.count("Flow control")) << "texts not collected";
  InitPortErrorTexts();  // binds the domain
  for (const auto& t : texts) {
    // Without an entry the lookup hands back the very text it was given,
    // which also tells an entry that keeps its text ("OK") from none.
    const bool entry = dgettext("cport", t.c_str()) != t.c_str();
    EXPECT_EQ(entry, kGerman) << '"' << t << '"';
  }
}

TEST(Catalog, TheCollectedTextsAreThoseTheCodeShows) {
  if (kGerman) GTEST_SKIP() << "the shown texts are the collected ones only untranslated";
  const auto texts = CodeTexts();
  for (int code = 1; code <= PortErrorCount; ++code) EXPECT_TRUE(texts.count(PortErrorTexts()[code])) << code;
  cport::test::TRecordingDriver d;
  TComSetupFrm f(nullptr, &d);
  for (const QString& t : FormTexts(f)) EXPECT_TRUE(texts.count(t.toStdString())) << t.toStdString();
}

TEST(Catalog, TheDialogSpeaksTheLanguageButItsSelectorsDoNot) {
  cport::test::TRecordingDriver d;
  d.SetPorts({"COM1"});
  TComSetupFrm f(nullptr, &d);
  EXPECT_EQ(f.windowTitle() != "Setup", kGerman);
  EXPECT_EQ(f.GroupBox1->title() != " Settings ", kGerman);
  EXPECT_EQ(f.Label6->text() != "Flow control", kGerman);
  EXPECT_EQ(f.Button2->text() != "Cancel", kGerman);
  for (int i = 0; i < FlowControlCount; ++i)
    EXPECT_EQ(f.Combo6->itemText(i).toStdString(), FlowControlToStr(static_cast<TFlowControl>(i)));
  for (int i = 0; i < ParityBitsCount; ++i)
    EXPECT_EQ(f.Combo5->itemText(i).toStdString(), ParityToStr(static_cast<TParityBits>(i)));
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
  for (QPushButton* b : {f.Button1, f.Button2}) {
    QStyleOptionButton opt;
    opt.initFrom(b);
    opt.text = b->text();
    const QRect room = b->style()->subElementRect(QStyle::SE_PushButtonContents, &opt, b);
    EXPECT_LE(b->fontMetrics().horizontalAdvance(b->text()), room.width()) << b->text().toStdString();
  }
  QStyleOptionGroupBox opt;
  opt.initFrom(f.GroupBox1);
  opt.text = f.GroupBox1->title();
  opt.textAlignment = f.GroupBox1->alignment();
  opt.subControls = QStyle::SC_GroupBoxFrame | QStyle::SC_GroupBoxLabel;
  const QRect title = f.GroupBox1->style()->subControlRect(QStyle::CC_GroupBox, &opt, QStyle::SC_GroupBoxLabel, f.GroupBox1);
  EXPECT_TRUE(f.GroupBox1->rect().contains(title)) << opt.text.toStdString();
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

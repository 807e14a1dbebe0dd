// SPDX-License-Identifier: MIT
#include "CPortSetup.h"

#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <memory>

#include "Translation.h"

// Marks a text that the form passes through the catalog once it is built;
// the catalog check collects every text so marked.
#define N_(text) text

namespace cport {

namespace {

QLabel* MakeLabel(QWidget* parent, const char* name, const char* text, int left, int top) {
  auto* l = new QLabel(QString::fromUtf8(text), parent);
  l->setObjectName(name);
  l->move(left, top);
  return l;
}

TComComboBox* MakeCombo(QWidget* parent, const char* name, int top, TComProperty property, TComDriver* source) {
  auto* c = new TComComboBox(parent);
  c->setObjectName(name);
  c->setGeometry(80, top, 129, 21);
  c->SetPortSource(source);
  c->SetComProperty(property);
  return c;
}

QString Translated(const char* domain, const QString& text) {
  if (text.isEmpty()) return text;  // the catalog's header hides behind ""
  return QString::fromUtf8(translation::Lookup(domain, text.toUtf8().constData()));
}

}  // namespace

TComSetupFrm::TComSetupFrm(QWidget* parent, TComDriver* portSource) : QDialog(parent) {
  setObjectName("ComSetupFrm");
  setWindowTitle(N_("Setup"));
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
  QFont f("MS Sans Serif");
  f.setStyleHint(QFont::SansSerif);
  f.setPixelSize(11);
  setFont(f);
  setFixedSize(231, 216);

  GroupBox1 = new QGroupBox(N_(" Settings "), this);
  GroupBox1->setObjectName("GroupBox1");
  GroupBox1->setGeometry(8, 8, 217, 169);
  Label1 = MakeLabel(GroupBox1, "Label1", N_("Port"), 8, 24);
  Label2 = MakeLabel(GroupBox1, "Label2", N_("Baud rate"), 8, 48);
  Label3 = MakeLabel(GroupBox1, "Label3", N_("Data bits"), 8, 72);
  Label4 = MakeLabel(GroupBox1, "Label4", N_("Stop bits"), 8, 96);
  Label5 = MakeLabel(GroupBox1, "Label5", N_("Parity"), 8, 120);
  Label6 = MakeLabel(GroupBox1, "Label6", N_("Flow control"), 8, 144);
  // Each selector fills its list as it gets its property, from a list of
  // ports read now: a port plugged in since the last opening is there.
  Combo1 = MakeCombo(GroupBox1, "Combo1", 16, cpPort, portSource);
  Combo2 = MakeCombo(GroupBox1, "Combo2", 40, cpBaudRate, portSource);
  Combo3 = MakeCombo(GroupBox1, "Combo3", 64, cpDataBits, portSource);
  Combo4 = MakeCombo(GroupBox1, "Combo4", 88, cpStopBits, portSource);
  Combo5 = MakeCombo(GroupBox1, "Combo5", 112, cpParity, portSource);
  Combo6 = MakeCombo(GroupBox1, "Combo6", 136, cpFlowControl, portSource);

  Button1 = new QPushButton(N_("OK"), this);
  Button1->setObjectName("Button1");
  Button1->setGeometry(70, 184, 75, 25);
  Button1->setDefault(true);
  connect(Button1, &QPushButton::clicked, this, &QDialog::accept);
  Button2 = new QPushButton(N_("Cancel"), this);
  Button2->setObjectName("Button2");
  Button2->setGeometry(150, 184, 75, 25);
  connect(Button2, &QPushButton::clicked, this, &QDialog::reject);

  setTabOrder(Combo1, Combo2);
  setTabOrder(Combo2, Combo3);
  setTabOrder(Combo3, Combo4);
  setTabOrder(Combo4, Combo5);
  setTabOrder(Combo5, Combo6);
  setTabOrder(Combo6, Button1);
  setTabOrder(Button1, Button2);

  FormCreate();
  for (QLabel* l : {Label1, Label2, Label3, Label4, Label5, Label6}) l->adjustSize();

  if (QScreen* screen = QGuiApplication::primaryScreen()) move(screen->availableGeometry().center() - rect().center());
}

TComComboBox* TComSetupFrm::Selector(int i) const {
  TComComboBox* const all[] = {Combo1, Combo2, Combo3, Combo4, Combo5, Combo6};
  return all[i];
}

void TComSetupFrm::FormCreate() {
  // The selectors show setting texts that programs compare; only the rest of
  // the form speaks the user's language.
  InitPortErrorTexts();  // binds the catalog domain
  TranslateForm(this, "cport", {"Combo1", "Combo2", "Combo3", "Combo4", "Combo5", "Combo6"});
}

void TranslateForm(QWidget* form, const char* domain, const QStringList& ignore) {
  auto ignored = [&](const QWidget* w) { return ignore.contains(w->objectName(), Qt::CaseInsensitive); };
  if (!ignored(form)) form->setWindowTitle(Translated(domain, form->windowTitle()));
  for (QWidget* w : form->findChildren<QWidget*>()) {
    if (ignored(w)) continue;
    if (auto* l = qobject_cast<QLabel*>(w))
      l->setText(Translated(domain, l->text()));
    else if (auto* g = qobject_cast<QGroupBox*>(w))
      g->setTitle(Translated(domain, g->title()));
    else if (auto* b = qobject_cast<QAbstractButton*>(w))
      b->setText(Translated(domain, b->text()));
  }
}

void EditComPort(TCustomComPort& port) {
  auto form = std::make_unique<TComSetupFrm>(nullptr, &port.Driver());
  for (int i = 0; i < 6; ++i) form->Selector(i)->SetComPort(&port);
  for (int i = 0; i < 6; ++i) form->Selector(i)->UpdateSettings();
  if (form->exec() != QDialog::Accepted) return;
  port.BeginUpdate();
  try {
    for (int i = 0; i < 6; ++i) form->Selector(i)->ApplySettings();
  } catch (...) {
    // A port left inside a batch would silently ignore every later setting:
    // close it whatever happened, then report the first failure.
    try {
      port.EndUpdate();
    } catch (...) {
    }
    throw;
  }
  port.EndUpdate();
}

void TCustomComPort::ShowSetupDialog() { EditComPort(*this); }

}  // namespace cport

// SPDX-License-Identifier: MIT
#include "CPortCtl.h"

#include <QScopedValueRollback>
#include <utility>
#include <vector>

namespace cport {

// ---------------------------------------------------------------------------
// TComSelect

TComSelect::TComSelect(QComboBox* items) : FItems(items) {}

void TComSelect::SetComProperty(TComProperty value) {
  FComProperty = value;
  FItems->clear();
  switch (value) {
    case cpNone: break;
    case cpPort: SelectPort(); break;
    case cpBaudRate: SelectBaudRate(); break;
    case cpDataBits: SelectDataBits(); break;
    case cpStopBits: SelectStopBits(); break;
    case cpParity: SelectParity(); break;
    case cpFlowControl: SelectFlowControl(); break;
  }
}

void TComSelect::SelectPort() {
  std::vector<TComPortInfo> ports;
  EnumComPortInfo(ports, FPortSource ? *FPortSource : DefaultComDriver());
  for (const auto& p : ports) {
    // The entry stays the name the port opens under; what the operator
    // recognises the device by goes into its tooltip.
    FItems->addItem(QString::fromStdString(p.Name));
    if (!p.Description.empty())
      FItems->setItemData(FItems->count() - 1, QString::fromStdString(p.Description), Qt::ToolTipRole);
  }
}

namespace {

// Adds the texts of an enumeration's values, in their order.
template <class E>
void AddTexts(QComboBox* items, int count, std::string (*text)(E)) {
  for (int i = 0; i < count; ++i) items->addItem(QString::fromStdString(text(static_cast<E>(i))));
}

}  // namespace

void TComSelect::SelectBaudRate() { AddTexts(FItems, BaudRateCount, BaudRateToStr); }
void TComSelect::SelectDataBits() { AddTexts(FItems, DataBitsCount, DataBitsToStr); }
void TComSelect::SelectStopBits() { AddTexts(FItems, StopBitsCount, StopBitsToStr); }
void TComSelect::SelectParity() { AddTexts(FItems, ParityBitsCount, ParityToStr); }
void TComSelect::SelectFlowControl() { AddTexts(FItems, FlowControlCount, FlowControlToStr); }

std::string TComSelect::CurrentText() const {
  switch (FComProperty) {
    case cpNone: return {};
    case cpPort: return FComPort->Port();
    case cpBaudRate: return BaudRateToStr(FComPort->BaudRate());
    case cpDataBits: return DataBitsToStr(FComPort->DataBits());
    case cpStopBits: return StopBitsToStr(FComPort->StopBits());
    case cpParity: return ParityToStr(FComPort->Parity().Bits());
    case cpFlowControl: return FlowControlToStr(FComPort->FlowControl().GetFlowControl());
  }
  return {};
}

void TComSelect::UpdateSettings(int& index) {
  index = FItems->currentIndex();
  if (!FComPort || FComProperty == cpNone) return;  // the selection stays
  // Whole text, letter case ignored.
  index = FItems->findText(QString::fromStdString(CurrentText()), Qt::MatchFixedString);
  if (index < 0) return;  // not listed: the box shows nothing, the choice stays
  Store(FItems->itemText(index).toStdString());
}

void TComSelect::Change(const std::string& text) {
  Store(text);
  if (FAutoApply) ApplySettings();
}

void TComSelect::Store(const std::string& text) {
  switch (FComProperty) {
    case cpNone: break;
    case cpPort:
      FPort = text;
      FPortChosen = true;
      break;
    case cpBaudRate: FBaudRate = StrToBaudRate(text); break;
    case cpDataBits: FDataBits = StrToDataBits(text); break;
    case cpStopBits: FStopBits = StrToStopBits(text); break;
    case cpParity: FParityBits = StrToParity(text); break;
    case cpFlowControl: FFlowControl = StrToFlowControl(text); break;
  }
}

void TComSelect::ApplySettings() {
  if (!FComPort) return;
  switch (FComProperty) {
    case cpNone: break;
    case cpPort:
      // A box that shows no port (the current name is not among the ports
      // listed) keeps the port's name rather than wiping it.
      if (FPortChosen) FComPort->SetPort(FPort);
      break;
    case cpBaudRate: FComPort->SetBaudRate(FBaudRate); break;
    case cpDataBits: FComPort->SetDataBits(FDataBits); break;
    case cpStopBits: FComPort->SetStopBits(FStopBits); break;
    case cpParity: FComPort->Parity().SetBits(FParityBits); break;
    case cpFlowControl: FComPort->FlowControl().SetFlowControl(FFlowControl); break;
  }
}

// ---------------------------------------------------------------------------
// TComComboBox

TComComboBox::TComComboBox(QWidget* parent) : QComboBox(parent), FComSelect(std::make_unique<TComSelect>(this)) {
  setEditable(false);  // a drop-down list: only the listed texts can be picked
  // Connected before anyone else can connect: the companion hears a pick
  // first, then the box's own change notification runs on.
  connect(this, &QComboBox::currentIndexChanged, this, &TComComboBox::OnIndexChanged);
  connect(this, &QComboBox::activated, this, &TComComboBox::OnActivated);
}

TComComboBox::~TComComboBox() {
  if (ComPort()) ComPort()->RemoveFreeNotification(this);
}

void TComComboBox::SetComPort(TCustomComPort* port) {
  TCustomComPort* old = ComPort();
  if (port == old) return;
  if (old) old->RemoveFreeNotification(this);
  FComSelect->SetComPort(port);
  if (port) {
    port->FreeNotification(this);
    UpdateSettings();
  }
}

void TComComboBox::SetComProperty(TComProperty value) {
  {
    // Refilling moves the selection on its own; that is no choice.
    const QScopedValueRollback<bool> refreshing(FRefreshing, true);
    FComSelect->SetComProperty(value);
  }
  if (count() == 0) return;
  if (ComPort())
    UpdateSettings();
  else
    Select(0);
}

QString TComComboBox::Text() const { return currentIndex() < 0 ? QString() : currentText(); }

void TComComboBox::SetText(const QString& text) {
  const int index = findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
  if (index >= 0) Select(index);
}

void TComComboBox::UpdateSettings() {
  int index = -1;
  FComSelect->UpdateSettings(index);
  Select(index);
}

void TComComboBox::Select(int index) {
  const QScopedValueRollback<bool> refreshing(FRefreshing, true);
  FTold = false;
  setCurrentIndex(index);
}

void TComComboBox::FreeNotify(TComponent* component) {
  if (component != ComPort()) return;
  FComSelect->SetComPort(nullptr);
  if (count() > 0) Select(0);
}

void TComComboBox::OnIndexChanged(int index) {
  if (FRefreshing || index < 0) return;
  FTold = true;
  FComSelect->Change(itemText(index).toStdString());
}

void TComComboBox::OnActivated(int index) {
  // Picking the entry already shown changes no index, yet it is a choice
  // (with AutoApply it writes the port again).
  const bool told = std::exchange(FTold, false);
  if (!told && index >= 0) FComSelect->Change(itemText(index).toStdString());
}

}  // namespace cport

// SPDX-License-Identifier: MIT
#include "CPortCtl.h"

#include <QButtonGroup>
#include <QGridLayout>
#include <QRadioButton>
#include <QScopedValueRollback>
#include <utility>
#include <vector>

namespace cport {

// ---------------------------------------------------------------------------
// TComSelect

TComSelect::TComSelect(TComSelectList& items) : FItems(items) {}

void TComSelect::SetComProperty(TComProperty value) {
  FComProperty = value;
  FItems.ClearItems();
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
    FItems.AddItem(QString::fromStdString(p.Name), QString::fromStdString(p.Description));
  }
}

namespace {

// Adds the texts of an enumeration's values, in their order.
template <class E>
void AddTexts(TComSelectList& items, int count, std::string (*text)(E)) {
  for (int i = 0; i < count; ++i) items.AddItem(QString::fromStdString(text(static_cast<E>(i))), {});
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
  index = FItems.ItemIndex();
  if (!FComPort || FComProperty == cpNone) return;  // the selection stays
  // Whole text, letter case ignored.
  const QString current = QString::fromStdString(CurrentText());
  index = -1;
  for (int i = 0; i < FItems.ItemCount() && index < 0; ++i)
    if (FItems.ItemText(i).compare(current, Qt::CaseInsensitive) == 0) index = i;
  if (index < 0) return;  // not listed: the control shows nothing, the choice stays
  Store(FItems.ItemText(index).toStdString());
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
      // A selector that shows no port (the current name is not among the ports
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
// TComSelector

TComSelector::TComSelector() : FComSelect(std::make_unique<TComSelect>(*this)) {}

TComSelector::~TComSelector() {
  if (ComPort()) ComPort()->RemoveFreeNotification(this);
}

void TComSelector::SetComPort(TCustomComPort* port) {
  TCustomComPort* old = ComPort();
  if (port == old) return;
  if (old) old->RemoveFreeNotification(this);
  FComSelect->SetComPort(port);
  if (port) {
    port->FreeNotification(this);
    UpdateSettings();
  }
}

void TComSelector::SetComProperty(TComProperty value) {
  {
    // Refilling moves the selection on its own; that is no choice.
    const QScopedValueRollback<bool> refreshing(FRefreshing, true);
    FComSelect->SetComProperty(value);
  }
  if (ItemCount() == 0) return;
  if (ComPort())
    UpdateSettings();
  else
    Select(0);
}

QString TComSelector::Text() const {
  const int index = ItemIndex();
  return index < 0 ? QString() : ItemText(index);
}

void TComSelector::SetText(const QString& text) {
  for (int i = 0; i < ItemCount(); ++i)
    if (ItemText(i) == text) return Select(i);
}

void TComSelector::UpdateSettings() {
  int index = -1;
  FComSelect->UpdateSettings(index);
  Select(index);
}

void TComSelector::Select(int index) {
  const QScopedValueRollback<bool> refreshing(FRefreshing, true);
  ShowIndex(index);
}

void TComSelector::Picked(int index) {
  if (FRefreshing || index < 0) return;
  FComSelect->Change(ItemText(index).toStdString());
}

void TComSelector::FreeNotify(TComponent* component) {
  if (component != ComPort()) return;
  FComSelect->SetComPort(nullptr);
  if (ItemCount() > 0) Select(0);
}

// ---------------------------------------------------------------------------
// TComComboBox

TComComboBox::TComComboBox(QWidget* parent) : QComboBox(parent) {
  setEditable(false);  // a drop-down list: only the listed texts can be picked
  // Connected before anyone else can connect: the companion hears a pick
  // first, then the box's own change notification runs on.
  connect(this, &QComboBox::currentIndexChanged, this, &TComComboBox::OnIndexChanged);
  connect(this, &QComboBox::activated, this, &TComComboBox::OnActivated);
}

void TComComboBox::AddItem(const QString& text, const QString& toolTip) {
  // The entry stays the text the setting is parsed from; what the operator
  // recognises it by (a port's device) goes into its tooltip.
  addItem(text);
  if (!toolTip.isEmpty()) setItemData(count() - 1, toolTip, Qt::ToolTipRole);
}

void TComComboBox::ShowIndex(int index) {
  FTold = false;
  setCurrentIndex(index);
}

void TComComboBox::OnIndexChanged(int index) {
  if (Refreshing() || index < 0) return;
  FTold = true;
  Picked(index);
}

void TComComboBox::OnActivated(int index) {
  // Picking the entry already shown changes no index, yet it is a choice
  // (with AutoApply it writes the port again).
  const bool told = std::exchange(FTold, false);
  if (!told) Picked(index);
}

// ---------------------------------------------------------------------------
// TComRadioGroup

TComRadioGroup::TComRadioGroup(QWidget* parent) : TComRadioGroup(QString(), parent) {}

TComRadioGroup::TComRadioGroup(const QString& title, QWidget* parent)
    : QGroupBox(title, parent), FGroup(new QButtonGroup(this)), FLayout(new QGridLayout(this)) {
  // Only clicks are the operator's (mouse, Space, and the arrow keys, which
  // click the button they move to); checking a button from here is not.
  connect(FGroup, &QButtonGroup::idClicked, this, &TComRadioGroup::OnClicked);
}

void TComRadioGroup::SetColumns(int value) {
  value = std::max(1, value);
  if (value == FColumns) return;
  FColumns = value;
  Arrange();
}

QAbstractButton* TComRadioGroup::Button(int index) const { return FGroup->button(index); }

QString TComRadioGroup::ItemText(int index) const {
  return index >= 0 && index < FTexts.size() ? FTexts[index] : QString();
}

void TComRadioGroup::ClearItems() {
  for (QAbstractButton* b : FGroup->buttons()) {
    FGroup->removeButton(b);
    FLayout->removeWidget(b);
    b->hide();
    b->deleteLater();  // the list may be refilled from a handler of its own click
  }
  FTexts.clear();
  if (std::exchange(FIndex, -1) != -1) emit ItemIndexChanged(-1);
}

void TComRadioGroup::AddItem(const QString& text, const QString& toolTip) {
  auto* b = new QRadioButton(QString(text).replace('&', "&&"), this);  // no mnemonic from a setting's text
  if (!toolTip.isEmpty()) b->setToolTip(toolTip);
  FGroup->addButton(b, static_cast<int>(FTexts.size()));
  FTexts << text;
  Arrange();
  b->show();
}

void TComRadioGroup::Arrange() {
  const int count = ItemCount();
  const int rows = (count + FColumns - 1) / FColumns;
  for (int i = 0; i < count; ++i) {
    QAbstractButton* b = FGroup->button(i);
    FLayout->removeWidget(b);
    FLayout->addWidget(b, i % rows, i / rows);
  }
}

void TComRadioGroup::ShowIndex(int index) {
  if (index >= ItemCount()) index = -1;
  if (index == FIndex) return;
  FIndex = index;
  if (index >= 0) {
    FGroup->button(index)->setChecked(true);
  } else if (QAbstractButton* checked = FGroup->checkedButton()) {
    // An exclusive group keeps one button checked; let go of it for a moment.
    FGroup->setExclusive(false);
    checked->setChecked(false);
    FGroup->setExclusive(true);
  }
  emit ItemIndexChanged(index);
}

void TComRadioGroup::OnClicked(int index) {
  const bool changed = index != FIndex;
  FIndex = index;
  Picked(index);  // the companion first, as for the drop-down list
  if (changed) emit ItemIndexChanged(index);
  emit Activated(index);
}

}  // namespace cport

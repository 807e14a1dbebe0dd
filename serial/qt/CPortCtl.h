// SPDX-License-Identifier: MIT
// Selectors bound to one setting of a port: a drop-down list and a group of
// radio buttons, and their companion that knows the texts of each setting.
// Qt part of the serial component.
//
// A selector shows the texts of one setting (port names, rates, data bits,
// stop bits, parity, flow control), selects the one the port holds, and
// writes the operator's choice back to the port when asked to
// (ApplySettings) or at once with AutoApply.  A change of the selected entry
// counts as a choice unless the control makes it itself (refilling, SetText,
// UpdateSettings); the companion hears a choice before anyone listening to
// the control's own change signals does, so with AutoApply they already see
// the port changed.  A value the list does not hold selects nothing.  It
// lets go of a port that is destroyed while bound.  GUI thread only.
#pragma once

#include <QComboBox>
#include <QGroupBox>
#include <QStringList>
#include <memory>
#include <string>

#include "CPort.h"

class QAbstractButton;
class QButtonGroup;
class QGridLayout;

namespace cport {

enum TComProperty : uint8_t { cpNone, cpPort, cpBaudRate, cpDataBits, cpStopBits, cpParity, cpFlowControl };

// The list a selector shows, as its companion fills and reads it.
class TComSelectList {
 public:
  virtual void ClearItems() = 0;
  // toolTip: shown over the entry; empty for none.
  virtual void AddItem(const QString& text, const QString& toolTip) = 0;
  virtual int ItemCount() const = 0;
  virtual QString ItemText(int index) const = 0;
  // The selected entry, -1 when none.
  virtual int ItemIndex() const = 0;

 protected:
  ~TComSelectList() = default;
};

// The setting side of a selector: fills the owning control's list, keeps the
// value chosen so far and writes it to the port.
class TComSelect {
 public:
  // items: the owning control's own list (not owned).
  explicit TComSelect(TComSelectList& items);

  TCustomComPort* ComPort() const { return FComPort; }
  void SetComPort(TCustomComPort* port) { FComPort = port; }
  TComProperty ComProperty() const { return FComProperty; }
  // Remembers the property and refills the list with its texts.
  void SetComProperty(TComProperty value);
  bool AutoApply() const { return FAutoApply; }
  void SetAutoApply(bool value) { FAutoApply = value; }
  // Where the names of the present ports come from (the platform's driver
  // unless set).
  void SetPortSource(TComDriver* driver) { FPortSource = driver; }

  // The operator picked the entry with this text.
  void Change(const std::string& text);
  // Writes the chosen value through the port's own setter.
  void ApplySettings();
  // The list position of the port's current value, -1 when it is not listed.
  void UpdateSettings(int& index);

  void SelectPort();
  void SelectBaudRate();
  void SelectDataBits();
  void SelectStopBits();
  void SelectParity();
  void SelectFlowControl();

 private:
  std::string CurrentText() const;
  void Store(const std::string& text);  // the parsed entry becomes the chosen value

  TComSelectList& FItems;
  TCustomComPort* FComPort = nullptr;
  TComProperty FComProperty = cpNone;
  bool FAutoApply = false;
  TComDriver* FPortSource = nullptr;
  std::string FPort;
  bool FPortChosen = false;  // a name was found in the list or picked
  TBaudRate FBaudRate = brCustom;
  TDataBits FDataBits = dbFive;
  TStopBits FStopBits = sbOneStopBit;
  TParityBits FParityBits = prNone;
  TFlowControl FFlowControl = fcHardware;
};

// The binding every selector control shares, whatever shows its list: the
// companion, the bound port (and its destruction), refreshing the selection
// from the port, and the operator's picks.
class TComSelector : public TComSelectList, private IFreeNotification {
 public:
  TComSelector(const TComSelector&) = delete;
  TComSelector& operator=(const TComSelector&) = delete;

  TCustomComPort* ComPort() const { return FComSelect->ComPort(); }
  // Binding a different port refreshes the selection from it; the control
  // lets go of the port if the port is destroyed first.
  void SetComPort(TCustomComPort* port);
  TComProperty ComProperty() const { return FComSelect->ComProperty(); }
  // Refills the list and selects the port's value (unbound: the first entry).
  void SetComProperty(TComProperty value);
  bool AutoApply() const { return FComSelect->AutoApply(); }
  void SetAutoApply(bool value) { FComSelect->SetAutoApply(value); }
  void SetPortSource(TComDriver* driver) { FComSelect->SetPortSource(driver); }

  // The selected entry, empty when none.
  QString Text() const;
  // Selects the entry equal to text; no such entry changes nothing.
  void SetText(const QString& text);

  void ApplySettings() { FComSelect->ApplySettings(); }
  void UpdateSettings();

 protected:
  TComSelector();
  ~TComSelector();

  // Shows entry index (-1: none).  No choice: the control's refreshes.
  virtual void ShowIndex(int index) = 0;
  // The operator picked entry index; call before the control's own signals.
  void Picked(int index);
  // True while the control itself changes the selection.
  bool Refreshing() const { return FRefreshing; }

 private:
  void FreeNotify(TComponent* component) override;
  void Select(int index);

  std::unique_ptr<TComSelect> FComSelect;
  bool FRefreshing = false;
};

// The drop-down form: only the listed texts can be picked.
class TComComboBox : public QComboBox, public TComSelector {
  Q_OBJECT
 public:
  explicit TComComboBox(QWidget* parent = nullptr);

  void ClearItems() override { clear(); }
  void AddItem(const QString& text, const QString& toolTip) override;
  int ItemCount() const override { return count(); }
  QString ItemText(int index) const override { return itemText(index); }
  int ItemIndex() const override { return currentIndex(); }

 private:
  void ShowIndex(int index) override;
  void OnIndexChanged(int index);
  void OnActivated(int index);

  bool FTold = false;  // the companion heard the current entry by its change
};

// The radio-button form: one button per entry, every choice in view, laid
// out in Columns columns filled top to bottom.  The operator picks with the
// mouse, or with the arrow keys and Space as for any radio buttons.
class TComRadioGroup : public QGroupBox, public TComSelector {
  Q_OBJECT
 public:
  explicit TComRadioGroup(QWidget* parent = nullptr);
  explicit TComRadioGroup(const QString& title, QWidget* parent = nullptr);

  int Columns() const { return FColumns; }
  // At least 1.
  void SetColumns(int value);
  // The button that shows entry index (nullptr when there is none).
  QAbstractButton* Button(int index) const;

  void ClearItems() override;
  void AddItem(const QString& text, const QString& toolTip) override;
  int ItemCount() const override { return static_cast<int>(FTexts.size()); }
  QString ItemText(int index) const override;
  int ItemIndex() const override { return FIndex; }

 signals:
  // The selected entry changed, by the operator or by the program (-1: none).
  void ItemIndexChanged(int index);
  // The operator picked entry index, also the one already selected.
  void Activated(int index);

 private:
  void ShowIndex(int index) override;
  void OnClicked(int index);
  void Arrange();

  QButtonGroup* FGroup;
  QGridLayout* FLayout;
  QStringList FTexts;  // as listed; a button's own text has its '&' doubled
  int FIndex = -1;
  int FColumns = 1;
};

}  // namespace cport

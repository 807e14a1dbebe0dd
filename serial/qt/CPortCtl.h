// SPDX-License-Identifier: MIT
// A drop-down selector bound to one setting of a port, and its companion
// that knows the texts of each setting.  Qt part of the serial component.
//
// The selector shows the texts of one setting (port names, rates, data
// bits, stop bits, parity, flow control), selects the one the port holds,
// and writes the operator's choice back to the port when asked to
// (ApplySettings) or at once with AutoApply.  A change of the selected entry
// counts as a choice unless the box makes it itself (refilling, SetText,
// UpdateSettings); the companion hears a choice before anyone listening to
// the box's own change signals does, so with AutoApply they already see the
// port changed.  It lets go of a port that is destroyed while bound.  GUI
// thread only.
#pragma once

#include <QComboBox>
#include <memory>
#include <string>

#include "CPort.h"

namespace cport {

enum TComProperty : uint8_t { cpNone, cpPort, cpBaudRate, cpDataBits, cpStopBits, cpParity, cpFlowControl };

// The setting side of a selector: fills the owning control's list, keeps the
// value chosen so far and writes it to the port.
class TComSelect {
 public:
  // items: the owning control's own list (not owned).
  explicit TComSelect(QComboBox* items);

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

  QComboBox* FItems;
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

class TComComboBox : public QComboBox, private IFreeNotification {
  Q_OBJECT
 public:
  explicit TComComboBox(QWidget* parent = nullptr);
  ~TComComboBox() override;

  TCustomComPort* ComPort() const { return FComSelect->ComPort(); }
  // Binding a different port refreshes the selection from it; the box lets
  // go of the port if the port is destroyed first.
  void SetComPort(TCustomComPort* port);
  TComProperty ComProperty() const { return FComSelect->ComProperty(); }
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

 private:
  void FreeNotify(TComponent* component) override;
  // Selects without telling the companion: the box's own refreshes.
  void Select(int index);
  void OnIndexChanged(int index);
  void OnActivated(int index);

  std::unique_ptr<TComSelect> FComSelect;
  bool FRefreshing = false;  // the box itself is changing the selection
  bool FTold = false;        // the companion heard the current entry by its change
};

}  // namespace cport

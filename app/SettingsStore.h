// SPDX-License-Identifier: MIT
// The per-user settings store: keys of named values, in the platform's own
// place (the registry on Windows; elsewhere the INI file Qt keeps for the
// organisation and application, for "\Software\Morvaleq\KV\ComPort" the
// group [ComPort] of $XDG_CONFIG_HOME/Morvaleq/KV.conf).
//
// Every operation works on a fresh QSettings and syncs it, so another
// accessor (or another process) sees each value as soon as it is written, and
// a write that cannot be saved fails at the value it concerns.  The file is
// replaced whole on each save, never left half-written.
#pragma once

#include <cstdint>
#include <string>

#include "Classes.h"

namespace vxpanel {

// Where the panel keeps the user's port settings; vxctl reads them there.
inline constexpr const char* kPortSettingsKey = "\\Software\\Morvaleq\\KV\\ComPort";

class ESettingsError : public cport::Exception {
 public:
  enum EKind { GetData, InvalidType, SetData };
  ESettingsError(EKind kind, const std::string& name);
  EKind Kind() const { return FKind; }

 private:
  EKind FKind;
};

class TSettingsStore {
 public:
  TSettingsStore() = default;
  ~TSettingsStore() { CloseKey(); }
  TSettingsStore(const TSettingsStore&) = delete;
  TSettingsStore& operator=(const TSettingsStore&) = delete;

  // path: "\Software\<organisation>\<application>\<key>[\<subkey>...]".
  // Without canCreate, true only when the key holds something.  With it,
  // true when the key exists or can be made.
  bool OpenKey(const std::string& path, bool canCreate);
  void CloseKey();
  bool KeyOpen() const { return FOpen; }

  // A missing text value reads as the empty text.
  std::string ReadString(const std::string& name);
  // A missing value is the get-data failure; anything but a 32-bit integer
  // (on the INI file: text that is one decimal number) the invalid-type one.
  int32_t ReadInteger(const std::string& name);
  // An integer that must be an ordinal below count; one outside is refused
  // like a missing value.
  int32_t ReadOrdinal(const std::string& name, int32_t count);
  void WriteString(const std::string& name, const std::string& value);
  void WriteInteger(const std::string& name, int32_t value);

 private:
  bool FOpen = false;
  std::string FOrganisation, FApplication, FGroup;
};

}  // namespace vxpanel

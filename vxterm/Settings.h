// SPDX-License-Identifier: MIT
// What vxterm keeps from one session to the next, per user, in a file of
// its own ($XDG_CONFIG_HOME/Morvaleq/vxterm.conf): the port and its line
// settings, the terminal's settings, the toggles, the window's geometry and
// the input history.  The command line overrides them for one run; what the
// session ends with is stored.
//
// Every stored value is read in the form the command line uses ("115200",
// "even", "1.5"); one that cannot be read is named in a warning and its
// default is used, so a damaged file never stops the program.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <string>

#include "CPort.h"
#include "Options.h"

class QSettings;

namespace vxterm {

enum class ECharset : uint8_t { Utf8, Latin1 };
enum class ELineEnding : uint8_t { None, CR, LF, CRLF };
enum class ECursorShape : uint8_t { Block, Underline, Bar };

struct TLineSettings {
  std::string Port;  // empty: none chosen yet
  uint32_t Baud = 9600;
  cport::TDataBits DataBits = cport::dbEight;
  cport::TParityBits Parity = cport::prNone;
  cport::TStopBits StopBits = cport::sbOneStopBit;
  cport::TFlowControl Flow = cport::fcNone;
  bool operator==(const TLineSettings&) const = default;
};

struct TTerminalSettings {
  EEmulation Emulation = EEmulation::VT100;
  int Columns = 80;
  int Rows = 24;
  bool LocalEcho = false;
  bool SendLF = false;
  bool AppendLF = false;
  bool Force7Bit = false;
  bool WrapLines = true;
  int ScrollBack = 1000;
  ECharset Charset = ECharset::Utf8;
  bool BackspaceDel = true;  // Backspace sends DEL (else BS)
  QString Font;              // a font description; empty: the system's fixed font
  QStringList Colors;        // 16 colour names, or none for the terminal's own
  ECursorShape Cursor = ECursorShape::Block;
  bool CursorBlink = true;
  bool operator==(const TTerminalSettings&) const = default;
};

struct TViewSettings {
  bool Timestamps = false;
  bool Hex = false;
  int HexPauseMs = 100;  // a pause this long starts a new hex row
  bool LineInput = false;
  ELineEnding Ending = ELineEnding::CR;
  bool DTR = true;
  bool RTS = true;
  bool operator==(const TViewSettings&) const = default;
};

struct TSettings {
  TLineSettings Line;
  TTerminalSettings Terminal;
  TViewSettings View;
  QByteArray Geometry;
  QByteArray WindowState;
  QStringList History;  // oldest first
};

// Limits of the values a person sets.
inline constexpr int kMinColumns = 10, kMaxColumns = 500, kMinRows = 2, kMaxRows = 300;
inline constexpr int kMaxScrollBack = 100000;
inline constexpr int kMinHexPauseMs = 1, kMaxHexPauseMs = 60000;
inline constexpr int kMaxHistory = 100;

// The user's settings file.
QString DefaultSettingsPath();

// Reads what the file holds over the defaults; warnings name each value
// that could not be used.
TSettings LoadSettings(QSettings& store, QStringList& warnings);
void SaveSettings(QSettings& store, const TSettings& settings);

// The command line's choices over the stored ones.
void ApplyOptions(TSettings& settings, const TOptions& options);

// The line settings onto a closed port, and back from a port (after the
// setup dialog).  A rate the port names is set by name, any other as a
// custom rate.
void ApplyLineSettings(cport::TCustomComPort& port, const TLineSettings& line);
TLineSettings LineSettingsOf(const cport::TCustomComPort& port);

std::string LineEndingName(ELineEnding value);
std::optional<ELineEnding> ParseLineEnding(std::string_view text);
// The bytes of an ending.
std::string LineEndingBytes(ELineEnding value);

}  // namespace vxterm

// SPDX-License-Identifier: MIT
#include "Settings.h"

#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>

#include <array>
#include <functional>

#include "Texts.h"

namespace vxterm {

namespace {

constexpr std::array<const char*, 4> kEndingNames = {"none", "cr", "lf", "crlf"};
constexpr std::array<const char*, 2> kCharsetNames = {"utf-8", "latin-1"};
constexpr std::array<const char*, 3> kCursorNames = {"block", "underline", "bar"};

template <class E, size_t N>
std::optional<E> FromName(const std::array<const char*, N>& names, std::string_view text) {
  for (size_t i = 0; i < N; ++i)
    if (text == names[i]) return static_cast<E>(i);
  return std::nullopt;
}

// Reads one stored value: absent keeps the default silently, unreadable
// keeps it with a warning.
class TReader {
 public:
  TReader(QSettings& store, QStringList& warnings) : FStore(store), FWarnings(warnings) {}

  template <class T, class Parse, class Show>
  void Get(const char* key, T& value, Parse parse, Show show) {
    if (!FStore.contains(key)) return;
    const QString text = FStore.value(key).toString();
    if (auto v = parse(text.toStdString())) {
      value = *v;
      return;
    }
    FWarnings << QTr("Stored setting %1: '%2' cannot be used; %3 instead").arg(key, text, show(value));
  }

  void Bool(const char* key, bool& value) {
    Get(
        key, value,
        [](const std::string& t) -> std::optional<bool> {
          if (t == "true") return true;
          if (t == "false") return false;
          return std::nullopt;
        },
        [](bool v) { return QString(v ? "true" : "false"); });
  }

  void Int(const char* key, int& value, int min, int max) {
    Get(
        key, value,
        [min, max](const std::string& t) -> std::optional<int> {
          bool ok = false;
          const int v = QString::fromStdString(t).toInt(&ok);
          if (!ok || v < min || v > max) return std::nullopt;
          return v;
        },
        [](int v) { return QString::number(v); });
  }

  template <class T>
  void Named(const char* key, T& value, std::function<std::optional<T>(std::string_view)> parse,
             std::function<std::string(T)> name) {
    Get(key, value, [&](const std::string& t) { return parse(t); },
        [&](T v) { return QString::fromStdString(name(v)); });
  }

 private:
  QSettings& FStore;
  QStringList& FWarnings;
};

template <class E, size_t N>
std::function<std::optional<E>(std::string_view)> Parser(const std::array<const char*, N>& names) {
  return [&names](std::string_view t) { return FromName<E>(names, t); };
}
template <class E, size_t N>
std::function<std::string(E)> Namer(const std::array<const char*, N>& names) {
  return [&names](E v) { return std::string(names[static_cast<size_t>(v)]); };
}

const QRegularExpression& ColorName() {
  static const QRegularExpression re("^#[0-9A-Fa-f]{6}$");
  return re;
}

}  // namespace

QString DefaultSettingsPath() {
  return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + "/Morvaleq/vxterm.conf";
}

TSettings LoadSettings(QSettings& store, QStringList& warnings) {
  TSettings s;
  TReader r(store, warnings);
  TLineSettings& l = s.Line;
  if (store.contains("port/name")) l.Port = store.value("port/name").toString().toStdString();
  r.Get("port/baud", l.Baud, ParseBaud, [](uint32_t v) { return QString::number(v); });
  r.Named<cport::TDataBits>("port/data", l.DataBits, ParseDataBits, DataBitsName);
  r.Named<cport::TParityBits>("port/parity", l.Parity, ParseParity, ParityName);
  r.Named<cport::TStopBits>("port/stop", l.StopBits, ParseStopBits, StopBitsName);
  r.Named<cport::TFlowControl>(
      "port/flow", l.Flow, [](std::string_view t) { return ParseFlow(t, true); }, FlowName);

  TTerminalSettings& t = s.Terminal;
  r.Named<EEmulation>("terminal/emulation", t.Emulation, ParseEmulation, EmulationName);
  r.Int("terminal/columns", t.Columns, kMinColumns, kMaxColumns);
  r.Int("terminal/rows", t.Rows, kMinRows, kMaxRows);
  r.Bool("terminal/local-echo", t.LocalEcho);
  r.Bool("terminal/send-lf", t.SendLF);
  r.Bool("terminal/append-lf", t.AppendLF);
  r.Bool("terminal/force-7bit", t.Force7Bit);
  r.Bool("terminal/wrap-lines", t.WrapLines);
  r.Int("terminal/scrollback", t.ScrollBack, 0, kMaxScrollBack);
  r.Named<ECharset>("terminal/charset", t.Charset, Parser<ECharset>(kCharsetNames), Namer<ECharset>(kCharsetNames));
  r.Bool("terminal/backspace-del", t.BackspaceDel);
  if (store.contains("terminal/font")) t.Font = store.value("terminal/font").toString();
  if (store.contains("terminal/colors")) {
    const QStringList colors = store.value("terminal/colors").toStringList();
    const bool valid =
        colors.size() == 16 && std::all_of(colors.begin(), colors.end(), [](const QString& c) {
          return ColorName().match(c).hasMatch();
        });
    if (valid)
      t.Colors = colors;
    else
      warnings << QTr("Stored setting %1: '%2' cannot be used; %3 instead")
                      .arg("terminal/colors", colors.join(','), QTr("the terminal's own colours"));
  }
  r.Named<ECursorShape>("terminal/cursor", t.Cursor, Parser<ECursorShape>(kCursorNames),
                        Namer<ECursorShape>(kCursorNames));
  r.Bool("terminal/cursor-blink", t.CursorBlink);

  TViewSettings& v = s.View;
  r.Bool("view/timestamps", v.Timestamps);
  r.Bool("view/hex", v.Hex);
  r.Int("view/hex-pause", v.HexPauseMs, kMinHexPauseMs, kMaxHexPauseMs);
  r.Bool("view/line-input", v.LineInput);
  r.Named<ELineEnding>("view/line-ending", v.Ending, ParseLineEnding, LineEndingName);
  r.Bool("view/dtr", v.DTR);
  r.Bool("view/rts", v.RTS);

  s.Geometry = store.value("window/geometry").toByteArray();
  s.WindowState = store.value("window/state").toByteArray();
  s.History = store.value("input/history").toStringList();
  while (s.History.size() > kMaxHistory) s.History.removeFirst();
  return s;
}

void SaveSettings(QSettings& store, const TSettings& s) {
  auto b = [](bool v) { return QString(v ? "true" : "false"); };
  auto str = [](const std::string& v) { return QString::fromStdString(v); };
  const TLineSettings& l = s.Line;
  store.setValue("port/name", str(l.Port));
  store.setValue("port/baud", QString::number(l.Baud));
  store.setValue("port/data", str(DataBitsName(l.DataBits)));
  store.setValue("port/parity", str(ParityName(l.Parity)));
  store.setValue("port/stop", str(StopBitsName(l.StopBits)));
  store.setValue("port/flow", str(FlowName(l.Flow)));
  const TTerminalSettings& t = s.Terminal;
  store.setValue("terminal/emulation", str(EmulationName(t.Emulation)));
  store.setValue("terminal/columns", QString::number(t.Columns));
  store.setValue("terminal/rows", QString::number(t.Rows));
  store.setValue("terminal/local-echo", b(t.LocalEcho));
  store.setValue("terminal/send-lf", b(t.SendLF));
  store.setValue("terminal/append-lf", b(t.AppendLF));
  store.setValue("terminal/force-7bit", b(t.Force7Bit));
  store.setValue("terminal/wrap-lines", b(t.WrapLines));
  store.setValue("terminal/scrollback", QString::number(t.ScrollBack));
  store.setValue("terminal/charset", kCharsetNames[static_cast<size_t>(t.Charset)]);
  store.setValue("terminal/backspace-del", b(t.BackspaceDel));
  store.setValue("terminal/font", t.Font);
  if (t.Colors.isEmpty())
    store.remove("terminal/colors");
  else
    store.setValue("terminal/colors", t.Colors);
  store.setValue("terminal/cursor", kCursorNames[static_cast<size_t>(t.Cursor)]);
  store.setValue("terminal/cursor-blink", b(t.CursorBlink));
  const TViewSettings& v = s.View;
  store.setValue("view/timestamps", b(v.Timestamps));
  store.setValue("view/hex", b(v.Hex));
  store.setValue("view/hex-pause", QString::number(v.HexPauseMs));
  store.setValue("view/line-input", b(v.LineInput));
  store.setValue("view/line-ending", str(LineEndingName(v.Ending)));
  store.setValue("view/dtr", b(v.DTR));
  store.setValue("view/rts", b(v.RTS));
  store.setValue("window/geometry", s.Geometry);
  store.setValue("window/state", s.WindowState);
  store.setValue("input/history", s.History);
  store.sync();
}

void ApplyOptions(TSettings& s, const TOptions& o) {
  if (o.Port) s.Line.Port = *o.Port;
  if (o.Baud) s.Line.Baud = *o.Baud;
  if (o.DataBits) s.Line.DataBits = *o.DataBits;
  if (o.Parity) s.Line.Parity = *o.Parity;
  if (o.StopBits) s.Line.StopBits = *o.StopBits;
  if (o.Flow) s.Line.Flow = *o.Flow;
  if (o.Emulation) s.Terminal.Emulation = *o.Emulation;
  if (o.LocalEcho) s.Terminal.LocalEcho = true;
  if (o.SendLF) s.Terminal.SendLF = true;
  if (o.AppendLF) s.Terminal.AppendLF = true;
  if (o.Timestamps) s.View.Timestamps = true;
  if (o.Hex) s.View.Hex = true;
}

void ApplyLineSettings(cport::TCustomComPort& port, const TLineSettings& line) {
  port.BeginUpdate();
  try {
    port.SetPort(line.Port);
    cport::TBaudRate rate = cport::brCustom;
    for (int r = 1; r < cport::BaudRateCount; ++r)
      if (cport::BaudRateValue(static_cast<cport::TBaudRate>(r)) == line.Baud) rate = static_cast<cport::TBaudRate>(r);
    port.SetCustomBaudRate(static_cast<int32_t>(line.Baud));
    port.SetBaudRate(rate);
    port.SetDataBits(line.DataBits);
    port.Parity().SetBits(line.Parity);
    port.SetStopBits(line.StopBits);
    if (line.Flow != cport::fcCustom) port.FlowControl().SetFlowControl(line.Flow);
  } catch (...) {
    port.EndUpdate();
    throw;
  }
  port.EndUpdate();
}

TLineSettings LineSettingsOf(const cport::TCustomComPort& port) {
  TLineSettings l;
  l.Port = port.Port();
  const uint32_t named = cport::BaudRateValue(port.BaudRate());
  l.Baud = named ? named : static_cast<uint32_t>(std::max<int32_t>(port.CustomBaudRate(), 0));
  l.DataBits = port.DataBits();
  l.Parity = port.Parity().Bits();
  l.StopBits = port.StopBits();
  l.Flow = port.FlowControl().GetFlowControl();
  return l;
}

std::string LineEndingName(ELineEnding value) { return kEndingNames[static_cast<size_t>(value)]; }
std::optional<ELineEnding> ParseLineEnding(std::string_view text) { return FromName<ELineEnding>(kEndingNames, text); }

std::string LineEndingBytes(ELineEnding value) {
  switch (value) {
    case ELineEnding::None: return {};
    case ELineEnding::CR: return "\r";
    case ELineEnding::LF: return "\n";
    case ELineEnding::CRLF: return "\r\n";
  }
  return {};
}

}  // namespace vxterm

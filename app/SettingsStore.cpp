// SPDX-License-Identifier: MIT
#include "SettingsStore.h"

#include <QSettings>
#include <QStringList>

#include <charconv>
#include <memory>
#include <vector>

namespace vxpanel {

namespace {

std::string Text(ESettingsError::EKind kind, const std::string& name) {
  switch (kind) {
    case ESettingsError::GetData: return "Failed to get data for '" + name + "'";
    case ESettingsError::InvalidType: return "Invalid data type for '" + name + "'";
    case ESettingsError::SetData: break;
  }
  return "Failed to set data for '" + name + "'";
}

QString Q(const std::string& s) { return QString::fromStdString(s); }

std::unique_ptr<QSettings> Settings(const std::string& organisation, const std::string& application,
                                    const std::string& group) {
  auto s = std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope, Q(organisation),
                                       Q(application));
  // Per user only: a system-wide file must not supply values.
  s->setFallbacksEnabled(false);
  s->beginGroup(Q(group));
  return s;
}

bool ParseInt32(const QString& text, int32_t& value) {
  const std::string s = text.toStdString();
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value, 10);
  return !s.empty() && ec == std::errc() && end == s.data() + s.size();
}

}  // namespace

ESettingsError::ESettingsError(EKind kind, const std::string& name) : Exception(Text(kind, name)), FKind(kind) {}

bool TSettingsStore::OpenKey(const std::string& path, bool canCreate) {
  CloseKey();
  std::vector<std::string> parts;
  for (size_t i = 0; i <= path.size();) {
    const size_t j = std::min(path.find('\\', i), path.size());
    if (j > i) parts.push_back(path.substr(i, j - i));
    i = j + 1;
  }
  if (parts.size() < 4 || QString::compare(Q(parts[0]), "Software", Qt::CaseInsensitive) != 0) return false;
  std::string group;
  for (size_t i = 3; i < parts.size(); ++i) group += (group.empty() ? "" : "/") + parts[i];
  auto s = Settings(parts[1], parts[2], group);
  const bool exists = s->status() == QSettings::NoError && !s->allKeys().isEmpty();
  if (!exists && !(canCreate && s->isWritable())) return false;
  FOrganisation = parts[1];
  FApplication = parts[2];
  FGroup = group;
  FOpen = true;
  return true;
}

void TSettingsStore::CloseKey() { FOpen = false; }

std::string TSettingsStore::ReadString(const std::string& name) {
  if (!FOpen) throw ESettingsError(ESettingsError::GetData, name);
  auto s = Settings(FOrganisation, FApplication, FGroup);
  if (s->status() != QSettings::NoError) throw ESettingsError(ESettingsError::GetData, name);
  if (!s->contains(Q(name))) return {};
  const QVariant v = s->value(Q(name));
  if (v.typeId() != QMetaType::QString) throw ESettingsError(ESettingsError::InvalidType, name);
  return v.toString().toStdString();
}

int32_t TSettingsStore::ReadInteger(const std::string& name) {
  if (!FOpen) throw ESettingsError(ESettingsError::GetData, name);
  auto s = Settings(FOrganisation, FApplication, FGroup);
  if (s->status() != QSettings::NoError || !s->contains(Q(name)))
    throw ESettingsError(ESettingsError::GetData, name);
  const QVariant v = s->value(Q(name));
  int32_t value = 0;
  switch (v.typeId()) {
    case QMetaType::Int:
      return v.toInt();
    case QMetaType::UInt:  // a 32-bit value the registry hands over unsigned
      return static_cast<int32_t>(v.toUInt());
    case QMetaType::QString:
      if (ParseInt32(v.toString(), value)) return value;
      [[fallthrough]];
    default:
      throw ESettingsError(ESettingsError::InvalidType, name);
  }
}

int32_t TSettingsStore::ReadOrdinal(const std::string& name, int32_t count) {
  const int32_t value = ReadInteger(name);
  if (value < 0 || value >= count) throw ESettingsError(ESettingsError::GetData, name);
  return value;
}

void TSettingsStore::WriteString(const std::string& name, const std::string& value) {
  if (!FOpen) throw ESettingsError(ESettingsError::SetData, name);
  auto s = Settings(FOrganisation, FApplication, FGroup);
  s->setValue(Q(name), Q(value));
  s->sync();
  if (s->status() != QSettings::NoError) throw ESettingsError(ESettingsError::SetData, name);
}

void TSettingsStore::WriteInteger(const std::string& name, int32_t value) {
  if (!FOpen) throw ESettingsError(ESettingsError::SetData, name);
  auto s = Settings(FOrganisation, FApplication, FGroup);
  s->setValue(Q(name), static_cast<int>(value));
  s->sync();
  if (s->status() != QSettings::NoError) throw ESettingsError(ESettingsError::SetData, name);
}

}  // namespace vxpanel

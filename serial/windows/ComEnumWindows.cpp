// SPDX-License-Identifier: MIT
// The ports present: the system's serial device table in the registry, with
// what the device manager tells about each for the dialog's tooltips.
#include "ComDeviceWindows.h"
// The ports class's GUID is defined here, not taken from a library.
#include <initguid.h>
#include <devguid.h>
#include <setupapi.h>

#include <algorithm>
#include <cctype>
#include <map>

namespace cport::win {

int EnumRegistryPorts(HKEY root, const wchar_t* subkey, std::vector<std::string>& names) {
  HKEY key = nullptr;
  LONG rc = ::RegOpenKeyExW(root, subkey, 0, KEY_READ, &key);
  if (rc != ERROR_SUCCESS) return static_cast<int>(rc);
  std::vector<std::string> found;
  for (DWORD i = 0;; ++i) {
    // Names and data beyond these sizes are no port names: the enumeration
    // fails with the registry's "more data".
    wchar_t name[256];
    wchar_t data[128];
    DWORD nameLen = 256, dataLen = sizeof data, type = 0;
    rc = ::RegEnumValueW(key, i, name, &nameLen, nullptr, &type, reinterpret_cast<BYTE*>(data), &dataLen);
    if (rc == ERROR_NO_MORE_ITEMS) break;
    if (rc != ERROR_SUCCESS) {
      ::RegCloseKey(key);
      return static_cast<int>(rc);
    }
    // Only text can be a port name.
    if (type != REG_SZ) continue;
    // The stored length counts the terminator, when the writer stored one.
    std::wstring port(data, dataLen / sizeof(wchar_t));
    while (!port.empty() && port.back() == L'\0') port.pop_back();
    found.push_back(Narrow(port));
  }
  ::RegCloseKey(key);
  names = std::move(found);
  return 0;
}

namespace {

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// The four hex digits after a tag such as "VID_" (case as the system writes).
std::string IdAfter(const std::string& upper, const std::string& original, const char* tag) {
  const auto pos = upper.find(tag);
  if (pos == std::string::npos) return {};
  const std::string id = original.substr(pos + std::char_traits<char>::length(tag), 4);
  if (id.size() != 4 || !std::all_of(id.begin(), id.end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); }))
    return {};
  return Lower(id);
}

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

std::wstring Property(HDEVINFO set, SP_DEVINFO_DATA& dev, DWORD property) {
  wchar_t buf[512];
  DWORD type = 0;
  if (!::SetupDiGetDeviceRegistryPropertyW(set, &dev, property, &type, reinterpret_cast<BYTE*>(buf),
                                           sizeof buf - sizeof(wchar_t), nullptr))
    return {};
  buf[511] = L'\0';
  return buf;  // the first string of a list
}

std::wstring PortNameOf(HDEVINFO set, SP_DEVINFO_DATA& dev) {
  const HKEY key = ::SetupDiOpenDevRegKey(set, &dev, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
  if (key == INVALID_HANDLE_VALUE) return {};
  wchar_t buf[128];
  DWORD len = sizeof buf - sizeof(wchar_t), type = 0;
  std::wstring name;
  if (::RegQueryValueExW(key, L"PortName", nullptr, &type, reinterpret_cast<BYTE*>(buf), &len) == ERROR_SUCCESS &&
      type == REG_SZ) {
    buf[len / sizeof(wchar_t)] = L'\0';
    name = buf;
  }
  ::RegCloseKey(key);
  return name;
}

}  // namespace

TDeviceIds ParseDeviceIds(const std::string& hardwareId, const std::string& instanceId) {
  TDeviceIds ids;
  const std::string hw = Upper(hardwareId);
  if (hw.rfind("USB\\", 0) != 0 && hw.rfind("FTDIBUS\\", 0) != 0) return ids;
  ids.VendorId = IdAfter(hw, hardwareId, "VID_");
  ids.ProductId = IdAfter(hw, hardwareId, "PID_");
  // USB\VID_xxxx&PID_xxxx\<serial>: the last part is the device's serial
  // number unless the system made one up (those hold "&").
  const auto last = instanceId.rfind('\\');
  if (Upper(instanceId).rfind("USB\\", 0) == 0 && last != std::string::npos && last + 1 < instanceId.size()) {
    const std::string tail = instanceId.substr(last + 1);
    if (tail.find('&') == std::string::npos) ids.SerialNumber = tail;
  }
  return ids;
}

void AddDeviceDescriptions(std::vector<TComPortInfo>& ports) {
  std::map<std::string, TComPortInfo*> byName;
  for (auto& p : ports) byName[Upper(p.Name)] = &p;
  const HDEVINFO set = ::SetupDiGetClassDevsW(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
  if (set == INVALID_HANDLE_VALUE) return;
  SP_DEVINFO_DATA dev{};
  dev.cbSize = sizeof dev;
  for (DWORD i = 0; ::SetupDiEnumDeviceInfo(set, i, &dev); ++i) {
    const auto it = byName.find(Upper(Narrow(PortNameOf(set, dev))));
    if (it == byName.end()) continue;
    TComPortInfo& info = *it->second;
    std::wstring description = Property(set, dev, SPDRP_FRIENDLYNAME);
    if (description.empty()) description = Property(set, dev, SPDRP_DEVICEDESC);
    info.Description = Narrow(description);
    wchar_t instance[512];
    std::string instanceId;
    if (::SetupDiGetDeviceInstanceIdW(set, &dev, instance, 512, nullptr)) instanceId = Narrow(instance);
    const TDeviceIds ids = ParseDeviceIds(Narrow(Property(set, dev, SPDRP_HARDWAREID)), instanceId);
    info.VendorId = ids.VendorId;
    info.ProductId = ids.ProductId;
    info.SerialNumber = ids.SerialNumber;
  }
  ::SetupDiDestroyDeviceInfoList(set);
}

}  // namespace cport::win

// SPDX-License-Identifier: MIT
// The Windows driver without a port: the records it hands to the system,
// the port list from a registry key the test writes, the device ids, the
// program's folder and the error a missing port carries.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "CPort.h"
#include "ComDeviceWindows.h"
#include "Platform.h"

using namespace cport;

namespace {

// The system's bit fields read back as one word, bit 0 upward.
uint32_t FlagWord(const DCB& d) {
  return d.fBinary | d.fParity << 1 | d.fOutxCtsFlow << 2 | d.fOutxDsrFlow << 3 | d.fDtrControl << 4 |
         d.fDsrSensitivity << 6 | d.fTXContinueOnXoff << 7 | d.fOutX << 8 | d.fInX << 9 | d.fErrorChar << 10 |
         d.fNull << 11 | d.fRtsControl << 12 | d.fAbortOnError << 14;
}

TEST(WindowsRecords, EveryFlagLandsInItsOwnSystemBitField) {
  const uint32_t flags[] = {TDCB::DCB_Binary, TDCB::DCB_Parity, TDCB::DCB_OutxCtsFlow, TDCB::DCB_OutxDsrFlow,
                            2u << TDCB::DCB_DtrControlShift, TDCB::DCB_DsrSensitivity, TDCB::DCB_TXContinueOnXoff,
                            TDCB::DCB_OutX, TDCB::DCB_InX, TDCB::DCB_ErrorChar, TDCB::DCB_Null,
                            3u << TDCB::DCB_RtsControlShift, TDCB::DCB_AbortOnError};
  for (uint32_t flag : flags) {
    TDCB t;
    t.Flags = flag;
    EXPECT_EQ(FlagWord(win::ToSystemDcb(t)), flag) << std::hex << flag;
  }
}

TEST(WindowsRecords, EveryOtherFieldReachesTheSystemAndComesBack) {
  TDCB t;  // each field a value of its own, so a field in its neighbour's place shows
  t.BaudRate = 28800;
  t.XonLim = 111;
  t.XoffLim = 222;
  t.ByteSize = 7;
  t.Parity = 3;
  t.StopBits = 2;
  t.XonChar = 0x11;
  t.XoffChar = 0x13;
  t.ErrorChar = '?';
  t.EofChar = 0x1A;
  t.EvtChar = '\r';
  const DCB d = win::ToSystemDcb(t);
  EXPECT_EQ(d.DCBlength, sizeof(DCB));
  EXPECT_EQ(d.BaudRate, 28800u);
  EXPECT_EQ(d.XonLim, 111);
  EXPECT_EQ(d.XoffLim, 222);
  EXPECT_EQ(d.ByteSize, 7);
  EXPECT_EQ(d.Parity, MARKPARITY);
  EXPECT_EQ(d.StopBits, TWOSTOPBITS);
  EXPECT_EQ(d.XonChar, 0x11);
  EXPECT_EQ(d.XoffChar, 0x13);
  EXPECT_EQ(d.ErrorChar, '?');
  EXPECT_EQ(d.EofChar, 0x1A);
  EXPECT_EQ(d.EvtChar, '\r');
  const TDCB back = win::FromSystemDcb(d);
  EXPECT_EQ(std::memcmp(&back, &d, sizeof d), 0);
}

TEST(WindowsRecords, TimeoutsPassUnchangedAllBitsIncluded) {
  TCommTimeouts t{TIMEOUT_ALL_BITS, 0, 7, 100, 1000};
  const COMMTIMEOUTS c = win::ToSystemTimeouts(t);
  EXPECT_EQ(c.ReadIntervalTimeout, MAXDWORD);
  EXPECT_EQ(c.ReadTotalTimeoutMultiplier, 0u);
  EXPECT_EQ(c.ReadTotalTimeoutConstant, 7u);
  EXPECT_EQ(c.WriteTotalTimeoutMultiplier, 100u);
  EXPECT_EQ(c.WriteTotalTimeoutConstant, 1000u);
}

TEST(WindowsRecords, PortNamesBecomeDevicePaths) {
  const std::pair<const char*, const wchar_t*> cases[] = {
      {"COM1", L"\\\\.\\COM1"},
      {"COM10", L"\\\\.\\COM10"},  // the prefix is what makes COM10 and up work
      {"\\\\.\\COM3", L"\\\\.\\COM3"},
      {"\\\\?\\USB#VID_0403", L"\\\\?\\USB#VID_0403"},
  };
  for (const auto& [port, path] : cases) EXPECT_EQ(win::DevicePath(port), path) << port;
}

TEST(WindowsRecords, UsbIdsAndSerialNumbersFromDeviceIds) {
  struct Case {
    const char* Hardware;
    const char* Instance;
    const char* Vendor;
    const char* Product;
    const char* Serial;
  } cases[] = {
      {"USB\\VID_0403&PID_6001&REV_0600", "USB\\VID_0403&PID_6001\\A50285BI", "0403", "6001", "A50285BI"},
      // The system makes an instance id up for a device without a serial.
      {"USB\\VID_067B&PID_2303&REV_0300", "USB\\VID_067B&PID_2303\\5&2B9F0A3&0&2", "067b", "2303", ""},
      {"FTDIBUS\\COMPORT&VID_0403&PID_6015", "FTDIBUS\\VID_0403+PID_6015+DN01ABCDA\\0000", "0403", "6015", ""},
      {"ACPI\\PNP0501", "ACPI\\PNP0501\\1", "", "", ""},
      {"USB\\VID_12&PID_XYZW", "USB\\VID_12&PID_XYZW\\", "", "", ""},  // malformed: nothing made up
  };
  for (const auto& c : cases) {
    const win::TDeviceIds ids = win::ParseDeviceIds(c.Hardware, c.Instance);
    EXPECT_EQ(ids.VendorId, c.Vendor) << c.Hardware;
    EXPECT_EQ(ids.ProductId, c.Product) << c.Hardware;
    EXPECT_EQ(ids.SerialNumber, c.Serial) << c.Instance;
  }
}

// A serial device table of the test's own, under the current user.
class RegistryPorts : public ::testing::Test {
 protected:
  std::wstring Key = L"Software\\VxCportTest\\" + std::to_wstring(::GetCurrentProcessId()) + L"\\SERIALCOMM";
  HKEY H = nullptr;
  void SetUp() override {
    ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, Key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &H, nullptr),
              ERROR_SUCCESS);
  }
  void TearDown() override {
    ::RegCloseKey(H);
    ::RegDeleteTreeW(HKEY_CURRENT_USER, (L"Software\\VxCportTest\\" + std::to_wstring(::GetCurrentProcessId())).c_str());
  }
  // Stores data of the given byte length (the terminator counted or not).
  void Value(const wchar_t* name, const std::wstring& data, bool terminated = true, DWORD type = REG_SZ) {
    const DWORD bytes = static_cast<DWORD>((data.size() + (terminated ? 1 : 0)) * sizeof(wchar_t));
    ASSERT_EQ(::RegSetValueExW(H, name, 0, type, reinterpret_cast<const BYTE*>(data.c_str()), bytes), ERROR_SUCCESS);
  }
  int List(std::vector<std::string>& names) { return win::EnumRegistryPorts(HKEY_CURRENT_USER, Key.c_str(), names); }
};

TEST_F(RegistryPorts, TakesEveryPortNameDuplicatesAndUnterminatedOnesIncluded) {
  Value(L"\\Device\\Serial0", L"COM3");
  Value(L"\\Device\\Serial1", L"COM1");
  Value(L"\\Device\\VCP0", L"COM10", false);
  Value(L"\\Device\\VCP1", L"COM1");
  Value(L"Count", L"xx", true, REG_BINARY);  // no port name: not text
  std::vector<std::string> names;
  ASSERT_EQ(List(names), 0);
  std::sort(names.begin(), names.end());  // the key's own order is the registry's
  EXPECT_EQ(names, (std::vector<std::string>{"COM1", "COM1", "COM10", "COM3"}));
}

TEST_F(RegistryPorts, AnEmptyTableGivesAnEmptyList) {
  std::vector<std::string> names{"stale"};
  ASSERT_EQ(List(names), 0);
  EXPECT_TRUE(names.empty());
}

TEST_F(RegistryPorts, FailuresCarryTheRegistrysErrorAndKeepTheCallersList) {
  Value(L"\\Device\\Long", std::wstring(200, L'C'));  // beyond any port name
  std::vector<std::string> names{"kept"};
  EXPECT_EQ(List(names), ERROR_MORE_DATA);
  EXPECT_EQ(names, std::vector<std::string>{"kept"});
  EXPECT_EQ(win::EnumRegistryPorts(HKEY_CURRENT_USER, L"Software\\VxCportTest\\NoSuchKey", names),
            ERROR_FILE_NOT_FOUND);
}

TEST(WindowsPlatform, ExecutableDirIsThisProgramsFolder) {
  const std::filesystem::path dir = platform::ExecutableDir();
  EXPECT_TRUE(std::filesystem::exists(dir / "test_ComRecordsWindows.exe")) << dir;
}

TEST(WindowsErrors, AMissingPortFailsToOpenWithTheSystemsError) {
  TComPort port;
  port.SetPort("COM249");
  try {
    port.Open();
    ADD_FAILURE() << "COM249 opened";
  } catch (const EComPort& e) {
    EXPECT_EQ(e.ComErrorCode(), CError_OpenFailed);
    EXPECT_EQ(e.SystemErrorCode(), ERROR_FILE_NOT_FOUND);
    EXPECT_STREQ(e.what(), "Unable to open com port (win error code: 2)");
  }
  EXPECT_FALSE(port.Connected());
}

}  // namespace

// SPDX-License-Identifier: MIT
// The failure type: codes, texts and the system error suffix.
#include <gtest/gtest.h>

#include "CPort.h"

using namespace cport;

namespace {

TEST(EComPortTest, TheTwentyThreeTexts) {
  const char* texts[] = {"Unable to open com port",
                         "WriteFile function failed",
                         "ReadFile function failed",
                         "Invalid Async parameter",
                         "PurgeComm function failed",
                         "Unable to get async status",
                         "SetCommState function failed",
                         "SetCommTimeouts failed",
                         "SetupComm function failed",
                         "ClearCommError function failed",
                         "GetCommModemStatus function failed",
                         "EscapeCommFunction function failed",
                         "TransmitCommChar function failed",
                         "Cannot set property while connected",
                         "EnumPorts function failed",
                         "Failed to store settings",
                         "Failed to load settings",
                         "Link (un)registration failed",
                         "Cannot change led state if ComPort is selected",
                         "Cannot wait for event if event thread is created",
                         "WaitForEvent method failed",
                         "A component is linked to OnRxBuf event",
                         "Registry error"};
  for (int code = 1; code <= PortErrorCount; ++code) {
    EXPECT_EQ(PortErrorTexts()[code], texts[code - 1]);
    EComPort own(code);
    EXPECT_STREQ(own.what(), texts[code - 1]);
    EXPECT_EQ(own.ComErrorCode(), code);
    EXPECT_EQ(own.SystemErrorCode(), -1);
  }
}

TEST(EComPortTest, ASystemErrorIsAppendedAsASignedNumber) {
  EComPort e(1, 2);
  EXPECT_STREQ(e.what(), "Unable to open com port (win error code: 2)");
  EXPECT_EQ(e.SystemErrorCode(), 2);
  EComPort negative(3, -5);
  EXPECT_STREQ(negative.what(), "ReadFile function failed (win error code: -5)");
}

TEST(EComPortTest, IsAnExceptionOfTheComponentsBase) {
  try {
    throw EComPort(4);
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "Invalid Async parameter");
  }
}

}  // namespace

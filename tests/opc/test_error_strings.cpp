#include <gtest/gtest.h>

#include "opc/opc_error_strings.h"

namespace {

TEST(ErrorText, OpcCodesGiveTheirTextsExactly) {
  struct Case {
    uint32_t code;
    const char* text;
  };
  const Case cases[] = {
      {0x0004000D, "The server does not support the requested data rate but will use the closest available rate."},
      {0x0004000E, "A value passed to WRITE was accepted but the output was clamped."},
      {0x0004000F, "The operation cannot be completed because the object still has references that exist."},
      {0x00040200, "The condition has already been acknowleged."},
      {0x00040201, "The buffer time parameter was invalid."},
      {0x00040202, "The max size parameter was invalid."},
      {0xC0040001, "The value of the handle is invalid."},
      {0xC0040004,
       "The server cannot convert the data between the requested data type and the canonical data type."},
      {0xC0040005, "The requested operation cannot be done on a public group."},
      {0xC0040006, "The Items AccessRights do not allow the operation."},
      {0xC0040007, "The item is no longer available in the server address space."},
      {0xC0040008, "The item definition does not conform to the server's syntax."},
      {0xC0040009, "The filter string was not valid."},
      {0xC004000A, "The item's access path is not known to the server."},
      {0xC004000B, "The value was out of range."},
      {0xC004000C, "Duplicate name not allowed."},
      {0xC0040010, "The server's configuration file is an invalid format."},
      {0xC0040011, "The server could not locate the requested object."},
      {0xC0040203, "The server does not recognise the passed property ID."},
      {0xC0040204, "The time does not match the latest active time."},
      {0xC0040205, "A refresh is currently in progress."},
      {0xC0040206, "Information is not available."},
  };
  for (const Case& c : cases) EXPECT_EQ(ErrorText(MakeHResult(c.code)), c.text) << std::hex << c.code;
}

TEST(ErrorText, SystemTextsLoseTrailingPeriodsAndLineBreaks) {
  struct Case {
    HRESULT code;
    const char* text;
  };
  const Case cases[] = {
      {E_FAIL, "Unspecified error"},
      {E_INVALIDARG, "The parameter is incorrect"},
      {87, "The parameter is incorrect"},
      {E_NOINTERFACE, "No such interface supported"},
      {E_NOTIMPL, "Not implemented"},
      {E_UNEXPECTED, "Catastrophic failure"},
      {E_POINTER, "Invalid pointer"},
      {E_OUTOFMEMORY, "Not enough memory resources are available to complete this operation"},
      {E_ACCESSDENIED, "Access is denied"},
      {CONNECT_E_NOCONNECTION, "There is no connection for this connection ID"},
      {CONNECT_E_ADVISELIMIT, "This implementation's limit for advisory connections has been reached"},
      {CONNECT_E_CANNOTCONNECT, "Connection attempt failed"},
      {DISP_E_TYPEMISMATCH, "Type mismatch"},
      {DISP_E_OVERFLOW, "Out of present range"},
      {DISP_E_BADVARTYPE, "Bad variable type"},
      {RPC_X_ENUM_VALUE_OUT_OF_RANGE, "The enumeration value is out of range"},
      {HResultFromWin32(1781), "The enumeration value is out of range"},
      {S_OK, "The operation completed successfully"},
  };
  for (const Case& c : cases) EXPECT_EQ(ErrorText(c.code), c.text) << std::hex << c.code;
  // The untrimmed system text still has both.
  EXPECT_EQ(SystemMessageText(E_INVALIDARG), "The parameter is incorrect.\r\n");
}

TEST(ErrorText, UnknownCodesGiveAnEmptyText) {
  for (uint32_t code : {0xC0040002u, 0x8004FFFFu, 0x12345678u, 0xC0040400u, 0x80079999u}) {
    EXPECT_EQ(ErrorText(MakeHResult(code)), "") << std::hex << code;
  }
}

}  // namespace

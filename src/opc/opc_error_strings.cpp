#include "opc/opc_error_strings.h"

#include <cstdint>

namespace {

struct CodeText {
  uint32_t code;
  const char* text;
};

constexpr CodeText kOpcTexts[] = {
    {0x0004000D, "The server does not support the requested data rate but will use the closest available rate."},
    {0x0004000E, "A value passed to WRITE was accepted but the output was clamped."},
    {0x0004000F, "The operation cannot be completed because the object still has references that exist."},
    {0x00040200, "The condition has already been acknowleged."},
    {0x00040201, "The buffer time parameter was invalid."},
    {0x00040202, "The max size parameter was invalid."},
    {0xC0040001, "The value of the handle is invalid."},
    {0xC0040004, "The server cannot convert the data between the requested data type and the canonical data type."},
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

// The system message table as Windows words it, line break included.
constexpr CodeText kSystemTexts[] = {
    // COM
    {0x80004001, "Not implemented\r\n"},
    {0x80004002, "No such interface supported\r\n"},
    {0x80004003, "Invalid pointer\r\n"},
    {0x80004004, "Operation aborted\r\n"},
    {0x80004005, "Unspecified error\r\n"},
    {0x8000FFFF, "Catastrophic failure\r\n"},
    {0x80040003, "This implementation doesn't take advises\r\n"},
    {0x80040004, "There is no connection for this connection ID\r\n"},
    {0x80040064, "Invalid FORMATETC structure\r\n"},
    {0x80040068, "Invalid lindex\r\n"},
    {0x80040069, "Invalid tymed\r\n"},
    {0x8004006B, "Invalid aspect(s)\r\n"},
    {0x80040110, "Class does not support aggregation (or class object is remote)\r\n"},
    {0x80040111, "ClassFactory cannot supply requested class\r\n"},
    {0x80040154, "Class not registered\r\n"},
    {0x800401F3, "Invalid class string\r\n"},
    {0x80040200, "There is no connection for this connection ID\r\n"},
    {0x80040201, "This implementation's limit for advisory connections has been reached\r\n"},
    {0x80040202, "Connection attempt failed\r\n"},
    {0x80040203, "Must use a derived interface to connect\r\n"},
    {0x80010105, "The server threw an exception.\r\n"},
    {0x80010108, "The object invoked has disconnected from its clients.\r\n"},
    {0x80080005, "Server execution failed\r\n"},
    // Automation
    {0x80020001, "Unknown interface.\r\n"},
    {0x80020003, "Member not found.\r\n"},
    {0x80020004, "Parameter not found.\r\n"},
    {0x80020005, "Type mismatch.\r\n"},
    {0x80020006, "Unknown name.\r\n"},
    {0x80020007, "No named arguments.\r\n"},
    {0x80020008, "Bad variable type.\r\n"},
    {0x80020009, "Exception occurred.\r\n"},
    {0x8002000A, "Out of present range.\r\n"},
    {0x8002000B, "Invalid index.\r\n"},
    {0x8002000D, "Memory is locked.\r\n"},
    {0x8002000E, "Invalid number of parameters.\r\n"},
    {0x8002000F, "Parameter not optional.\r\n"},
    {0x80020012, "Division by zero.\r\n"},
};

// Win32 codes: looked up bare and wrapped as HRESULTs (0x8007xxxx).
constexpr CodeText kWin32Texts[] = {
    {0, "The operation completed successfully.\r\n"},
    {1, "Incorrect function.\r\n"},
    {2, "The system cannot find the file specified.\r\n"},
    {3, "The system cannot find the path specified.\r\n"},
    {5, "Access is denied.\r\n"},
    {6, "The handle is invalid.\r\n"},
    {8, "Not enough memory resources are available to process this command.\r\n"},
    {13, "The data is invalid.\r\n"},
    {14, "Not enough memory resources are available to complete this operation.\r\n"},
    {31, "A device attached to the system is not functioning.\r\n"},
    {50, "The request is not supported.\r\n"},
    {87, "The parameter is incorrect.\r\n"},
    {121, "The semaphore timeout period has expired.\r\n"},
    {122, "The data area passed to a system call is too small.\r\n"},
    {1460, "This operation returned because the timeout period expired.\r\n"},
    {1722, "The RPC server is unavailable.\r\n"},
    {1781, "The enumeration value is out of range.\r\n"},
};

const char* Find(const CodeText* begin, const CodeText* end, uint32_t code) {
  for (const CodeText* p = begin; p != end; ++p) {
    if (p->code == code) return p->text;
  }
  return nullptr;
}

template <size_t N>
const char* Find(const CodeText (&table)[N], uint32_t code) {
  return Find(table, table + N, code);
}

}  // namespace

std::string SystemMessageText(HRESULT code) {
  const auto u = static_cast<uint32_t>(code);
  if (const char* t = Find(kSystemTexts, u)) return t;
  if ((u & 0xFFFF0000u) == 0x80070000u) {
    if (const char* t = Find(kWin32Texts, u & 0xFFFFu)) return t;
  } else if (u <= 0xFFFFu) {
    if (const char* t = Find(kWin32Texts, u)) return t;
  }
  return {};
}

std::string ErrorText(HRESULT code) {
  if (const char* t = Find(kOpcTexts, static_cast<uint32_t>(code))) return t;
  std::string text = SystemMessageText(code);
  // The system message buffer holds 256 characters.
  if (text.size() > 255) text.resize(255);
  while (!text.empty() && (static_cast<unsigned char>(text.back()) < '!' || text.back() == '.')) text.pop_back();
  return text;
}

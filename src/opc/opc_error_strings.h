// Texts for result codes, as GetErrorString hands them to clients.
#pragma once

#include <string>

#include "platform/hresult.h"

// The OPC table's text for an OPC code; for any other code the system's
// message text without its trailing blanks, line breaks and periods; ""
// for a code without a text.
std::string ErrorText(HRESULT code);

// The operating system's message text for a code, untrimmed; Linux has no
// message table, so this is our own copy of the standard texts of the COM,
// automation and Win32 codes the server returns or meets. "" when unknown.
std::string SystemMessageText(HRESULT code);

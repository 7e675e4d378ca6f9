// The server's COM classes and its own registration: the -REGISTER and
// -UNREGISTER switches, beside the framework's standard entries.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "platform/com_server.h"

// Puts the type library and the five class objects (DA2, OPCGroup and the
// three enumerators) into the framework's table. The creators stay empty
// until the layers that own the classes supply them.
void DeclareServerClasses(TComServer& server);
// Supplies the factory of the server object; tests register a stub.
void SetDA2Factory(TComServer& server, ComCreator creator);

// The framework's step of process start for this server: declares the
// classes in ComServer() and runs its Startup with the arguments (without
// the program name). The program ends at once when exitNow is set.
TComStartupResult StartComServer(const std::vector<std::string>& args);

struct TRegistrationResult {
  bool ok = true;
  std::string error;  // the key that could not be written, and why
  // What the component categories manager answered; kept for the log only.
  std::array<HRESULT, 4> categoryResults{};
};

// Writes the ProgID, CLSID and AppID keys and the membership of the OPC Data
// Access 1.0 and 2.0 categories. Stops at the first key that cannot be
// written (the steps before it stay done). exePath: the running program.
TRegistrationResult RegisterServer(const std::string& progId, const std::string& exePath);
TRegistrationResult RegisterServer(const std::string& progId);
// Takes the class out of both categories; every key stays.
TRegistrationResult UnregisterServer(const std::string& progId);

// What the OPC objects need from the process around them: the address space
// that resolves item IDs to tags, and the main window's few services.
#pragma once

#include <string>

#include "platform/clock.h"

class TNorvoVar;

// The project set as the OPC objects see it.
class IOPCAddressSpace {
 public:
  virtual ~IOPCAddressSpace() = default;
  // The tag of an item ID (case-insensitive), or null.
  virtual TNorvoVar* FindItem(const std::string& itemID) = 0;
  // An item or monitor has just dropped the tag's FRefCount to 0. An orphan
  // nobody holds any more may be freed here; a tag still listed by a PLC
  // must stay.
  virtual void TagUnreferenced(TNorvoVar* tag) = 0;
};

// The main window's side of a client session.
class IOPCServerHost {
 public:
  virtual ~IOPCServerHost() = default;
  // Local time noted at the main window's first show.
  virtual TDateTime ServerStartTime() const = 0;
  // Shown and not yet closed.
  virtual bool MainWindowShown() const = 0;
  // The setting "Do not activate communication on startup, wait for OPC
  // client first".
  virtual bool WaitForClient() const = 0;
  // Sets the automatic-connection countdown to 20000 ms.
  virtual void RestartAutoConnectCountdown() = 0;
};

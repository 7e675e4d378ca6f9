// What the OPC objects need from the process around them: the address space
// that resolves item IDs to tags and lists the branches a client browses,
// and the main window's few services.
#pragma once

#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "platform/clock.h"

class TNorvoVar;
class TNorvoModel;

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

  // Browsing. The server's system tags in list order, and the PLCs in load
  // order; both empty for a space without them.
  virtual std::span<const std::unique_ptr<TNorvoVar>> ServerSysTags() const { return {}; }
  virtual std::span<const std::unique_ptr<TNorvoModel>> PLCs() const { return {}; }
  // Letter case ignored; the first PLC of that name, or null.
  virtual TNorvoModel* FindPLCByName(std::string_view name) const;
  // Whether the PLC is still loaded: a reload may have freed it.
  virtual bool ContainsPLC(const TNorvoModel* plc) const;
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
  // The setting "Quality independent SyncRead (Wizcon)".
  virtual bool QualityIndependentSyncRead() const { return false; }
  // The setting "Hide array element variables".
  virtual bool HideArrayElements() const { return true; }
};

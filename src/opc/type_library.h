// The ZeltaOPC type library, described in code.
#pragma once

#include "opc/server_ids.h"
#include "platform/com_server.h"

// IDA2: the dual default interface of DA2, nothing beyond IDispatch.
struct IDA2 : IDispatch {
 protected:
  ~IDA2() = default;
};

// IOPCGroup: the IUnknown-derived default interface of OPCGroup, no members.
struct IOPCGroup : IUnknown {
 protected:
  ~IOPCGroup() = default;
};

NORVO_COM_IID(IDA2, IID_IDA2);
NORVO_COM_IID(IOPCGroup, IID_IOPCGroup);

// Name "ZeltaOPC", version 2.0, locale 0x409, help string "Norvo OPC Server
// Library"; members IDA2, DA2, DA2Unknown, IOPCGroup, OPCGroup.
const TTypeLibraryInfo& ZeltaOPCTypeLibrary();

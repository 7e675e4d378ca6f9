#include "opc/type_library.h"

#include "opc/server_ids.h"

const TTypeLibraryInfo& ZeltaOPCTypeLibrary() {
  using Kind = TTypeLibraryMember::Kind;
  static const TTypeLibraryInfo lib = [] {
    TTypeLibraryInfo l;
    l.name = "ZeltaOPC";
    l.libid = LIBID_ZeltaOPC;
    l.majorVersion = 2;
    l.minorVersion = 0;
    l.lcid = 0x409;
    l.helpString = "Norvo OPC Server Library";
    l.members = {
        {Kind::DualInterface, "IDA2", IID_IDA2, "", {}},
        {Kind::CoClass, "DA2", CLSID_DA2, kServerDescription, {"IDA2"}},
        {Kind::DispInterface, "DA2Unknown", DIID_DA2Unknown, "", {}},
        {Kind::Interface, "IOPCGroup", IID_IOPCGroup, "Interface for OPCGroup object", {}},
        {Kind::CoClass, "OPCGroup", CLSID_OPCGroup, "OPCGroup Object", {"IOPCGroup"}},
    };
    return l;
  }();
  return lib;
}

// One network socket of a PLC: a fixed block of variables the PLC sends to,
// or receives from, one partner PLC. Frames seen on the network refresh its
// tags without a read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class TNorvoModel;
class TNorvoVar;
class ITagTableView;

class TQNETSocket {
 public:
  TQNETSocket(bool IsInput, int NAD) : FIsInput(IsInput), FNAD(NAD) {}
  TQNETSocket(const TQNETSocket&) = delete;
  TQNETSocket& operator=(const TQNETSocket&) = delete;

  // Keeps the list ordered by wire size (1-byte, 2-byte, then 4-byte tags),
  // equal sizes in the order added.
  void AddTag(TNorvoVar& Tag);
  // Decodes a payload into the tags; a payload shorter than FSize changes
  // nothing. Bytes beyond FSize are ignored.
  void ReceiveData(size_t Length, const uint8_t* Data);

  ITagTableView* FView = nullptr;  // not owned
  bool FIsInput;  // true: the owner receives this block from the partner
  int FNAD;       // the partner PLC
  int FSize = 0;  // sum of the wire sizes of its tags
  TNorvoModel* FOwner = nullptr;  // not owned
  std::vector<TNorvoVar*> FTags;  // owned by the PLC's FTags
};

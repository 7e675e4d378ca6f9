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
  // equal sizes in the order added; the tags after it move up by its size.
  void AddTag(TNorvoVar& Tag);
  // Takes a released tag out, with its row. The partner still sends the
  // whole block, so FSize and the other tags' offsets stay as they are.
  // False when the tag is not listed.
  bool RemoveTag(TNorvoVar& Tag);
  // Decodes a payload into the tags; a payload shorter than FSize changes
  // nothing. Bytes beyond FSize are ignored.
  void ReceiveData(size_t Length, const uint8_t* Data);

  ITagTableView* FView = nullptr;  // not owned
  bool FIsInput;  // true: the owner receives this block from the partner
  int FNAD;       // the partner PLC
  // The block's size on the wire: the sum of the wire sizes of the tags it
  // was built with, released ones included.
  int FSize = 0;
  TNorvoModel* FOwner = nullptr;  // not owned
  // Owned by the PLC's FTags. Change it only through AddTag and RemoveTag,
  // which keep FOffsets in step.
  std::vector<TNorvoVar*> FTags;
  // Where each tag of FTags starts in the block.
  std::vector<int> FOffsets;
};

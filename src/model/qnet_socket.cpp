#include "model/qnet_socket.h"

#include <algorithm>

#include "model/norvo_var.h"
#include "model/tag_view.h"

namespace {

// Little-endian value of one socket tag, as a read reply decodes it: bytes
// and words zero-extended, ints sign-extended, longs and reals unchanged.
int32_t DecodeSocketValue(const uint8_t* p, uint8_t code) {
  switch (code) {
    case ntBit: return p[0];
    case ntWord: return static_cast<int32_t>(p[0] | (p[1] << 8));
    case ntInt: return static_cast<int16_t>(static_cast<uint16_t>(p[0] | (p[1] << 8)));
    default:
      return static_cast<int32_t>(static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
                                  (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24));
  }
}

}  // namespace

void TQNETSocket::AddTag(TNorvoVar& Tag) {
  if (FView) FView->AddRow(Tag);
  const int size = VarTypeSize(Tag.FVarType);
  const auto at = std::find_if(FTags.begin(), FTags.end(),
                               [size](const TNorvoVar* t) { return VarTypeSize(t->FVarType) > size; });
  const size_t index = static_cast<size_t>(at - FTags.begin());
  const int offset = index < FOffsets.size() ? FOffsets[index] : FSize;
  FTags.insert(at, &Tag);
  FOffsets.insert(FOffsets.begin() + static_cast<std::ptrdiff_t>(index), offset);
  for (size_t i = index + 1; i < FOffsets.size(); ++i) FOffsets[i] += size;
  FSize += size;
}

bool TQNETSocket::RemoveTag(TNorvoVar& Tag) {
  const auto at = std::find(FTags.begin(), FTags.end(), &Tag);
  if (at == FTags.end()) return false;
  const auto index = at - FTags.begin();
  FTags.erase(at);
  if (static_cast<size_t>(index) < FOffsets.size()) FOffsets.erase(FOffsets.begin() + index);
  if (FView) FView->RemoveRow(Tag);
  return true;
}

void TQNETSocket::ReceiveData(size_t Length, const uint8_t* Data) {
  if (Length < static_cast<size_t>(FSize) || (FSize > 0 && !Data)) {
    if (FView) FView->MarkReceived(false);
    return;
  }
  size_t running = 0;
  for (size_t i = 0; i < FTags.size(); ++i) {
    TNorvoVar* tag = FTags[i];
    const int size = VarTypeSize(tag->FVarType);
    // A tag without a wire form takes no bytes and gets no value.
    if (size == 0) continue;
    const size_t offset = i < FOffsets.size() ? static_cast<size_t>(FOffsets[i]) : running;
    running = offset + static_cast<size_t>(size);
    // Only a list edited behind AddTag's back could point past the block.
    if (running > Length) break;
    tag->UpdateFromSocket(DecodeSocketValue(Data + offset, tag->FVarType));
  }
  if (FView) FView->MarkReceived(true);
}

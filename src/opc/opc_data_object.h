// The DA 1.0a side of a group: the three advise subscriptions of its
// IDataObject and the global-memory streams sent through them.
#pragma once

#include <cstdint>
#include <vector>

#include "opc/opc_callbacks.h"
#include "platform/data_object.h"

// The registered clipboard formats of the three streams, registered on first
// use (at start-up, through the group timer or the first DAdvise).
struct TStreamFormats {
  CLIPFORMAT dataTime;
  CLIPFORMAT data;
  CLIPFORMAT writeComplete;
};
const TStreamFormats& StreamFormats();

struct TAsyncIOSubscription {
  ComPtr<IAdviseSink> AdviseSink;  // null when free
  uint32_t Connection = 0;         // 1, 2 or 3; 0 after DUnadvise
  CLIPFORMAT Format = 0;
};

// One DA 1.0 request per kind and group.
struct TPendingAsyncIO {
  TDateTime RequestTime = 0;
  uint32_t Source = 0;
  TAsyncIOSubscription* Subscription = nullptr;  // one of the group's; stays set after the reply
  uint32_t TransactionID = 0;
  TItemRefs Items;  // empty when the slot is free
  // Write slot only: the entry's result in the completion stream; entries
  // that were refused are not waited for.
  std::vector<HRESULT> ItemErrors;
  bool IsWrite = false;

  bool Busy() const { return !Items.empty(); }
  void Free() {
    Items.clear();
    ItemErrors.clear();
  }
};

// The process-wide sequence of DA 1.0 transaction IDs: 1, 2 ... never 0.
uint32_t NextTransactionID();

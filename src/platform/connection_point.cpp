#include "platform/connection_point.h"

#include <algorithm>

namespace {

// The standard enumerator contract: S_OK when all asked for were handed out,
// S_FALSE when fewer; the count pointer may be left out only for one element.
template <class Derived, class Interface, class Element, class Stored>
class TSnapshotEnum : public ComObject<Interface> {
 public:
  explicit TSnapshotEnum(std::vector<Stored> items) : items_(std::move(items)) {}

  HRESULT Next(uint32_t count, Element* out, uint32_t* fetched) override {
    if (fetched) *fetched = 0;
    if (!out || (!fetched && count != 1)) return E_POINTER;
    uint32_t n = 0;
    while (n < count && index_ < items_.size()) {
      Derived::HandOut(items_[index_++], &out[n]);
      ++n;
    }
    if (fetched) *fetched = n;
    return n == count ? S_OK : S_FALSE;
  }
  HRESULT Skip(uint32_t count) override {
    size_t left = items_.size() - index_;
    index_ += std::min<size_t>(count, left);
    return count <= left ? S_OK : S_FALSE;
  }
  HRESULT Reset() override {
    index_ = 0;
    return S_OK;
  }

 protected:
  template <class CloneInterface>
  HRESULT CloneInto(CloneInterface** out) {
    if (!out) return E_POINTER;
    auto copy = MakeComObject<Derived>(items_);
    static_cast<TSnapshotEnum*>(copy.get())->index_ = index_;
    *out = copy.Detach();
    return S_OK;
  }

 private:
  std::vector<Stored> items_;
  size_t index_ = 0;
};

struct StoredConnection {
  ComPtr<IUnknown> sink;
  uint32_t cookie;
};

class TEnumConnections final
    : public TSnapshotEnum<TEnumConnections, IEnumConnections, CONNECTDATA, StoredConnection> {
 public:
  using TSnapshotEnum::TSnapshotEnum;
  static void HandOut(const StoredConnection& c, CONNECTDATA* out) {
    out->pUnk = c.sink.get();
    if (out->pUnk) out->pUnk->AddRef();
    out->dwCookie = c.cookie;
  }
  HRESULT Clone(IEnumConnections** out) override { return CloneInto(out); }
};

class TEnumConnectionPoints final
    : public TSnapshotEnum<TEnumConnectionPoints, IEnumConnectionPoints, IConnectionPoint*, ComPtr<IConnectionPoint>> {
 public:
  using TSnapshotEnum::TSnapshotEnum;
  static void HandOut(const ComPtr<IConnectionPoint>& p, IConnectionPoint** out) { p.CopyTo(out); }
  HRESULT Clone(IEnumConnectionPoints** out) override { return CloneInto(out); }
};

}  // namespace

TConnectionPoint::TConnectionPoint(IConnectionPointContainer* container, const IID& iid, uint32_t maxConnections)
    : container_(container), iid_(iid), max_(maxConnections) {}

TConnectionPoint::~TConnectionPoint() = default;

HRESULT TConnectionPoint::QueryInterface(const IID& iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (iid != IID_IUnknown && iid != IID_IConnectionPoint) return E_NOINTERFACE;
  AddRef();
  *out = static_cast<IConnectionPoint*>(this);
  return S_OK;
}

uint32_t TConnectionPoint::AddRef() { return container_->AddRef(); }

uint32_t TConnectionPoint::Release() { return container_->Release(); }

HRESULT TConnectionPoint::GetConnectionInterface(IID* iid) {
  if (!iid) return E_POINTER;
  *iid = iid_;
  return S_OK;
}

HRESULT TConnectionPoint::GetConnectionPointContainer(IConnectionPointContainer** out) {
  if (!out) return E_POINTER;
  container_->AddRef();
  *out = container_;
  return S_OK;
}

HRESULT TConnectionPoint::Advise(IUnknown* sink, uint32_t* cookie) {
  if (cookie) *cookie = 0;
  if (!sink || !cookie) return E_POINTER;
  if (max_ != kUnlimited && sinks_.size() >= max_) return CONNECT_E_ADVISELIMIT;
  void* iface = nullptr;
  if (FAILED(sink->QueryInterface(iid_, &iface)) || !iface) return CONNECT_E_CANNOTCONNECT;
  // Every interface derives singly from IUnknown, so the queried pointer is
  // also a valid IUnknown pointer for the release.
  Connection c{nextCookie_++, iface, ComPtr<IUnknown>::Attach(static_cast<IUnknown*>(iface))};
  if (nextCookie_ == 0) nextCookie_ = 1;  // 0 is never a valid cookie
  *cookie = c.cookie;
  sinks_.push_back(std::move(c));
  return S_OK;
}

HRESULT TConnectionPoint::Unadvise(uint32_t cookie) {
  auto it = std::find_if(sinks_.begin(), sinks_.end(), [&](const Connection& c) { return c.cookie == cookie; });
  if (it == sinks_.end()) return CONNECT_E_NOCONNECTION;
  // Release after the list is consistent: the sink's release may call back.
  ComPtr<IUnknown> dropped = std::move(it->owner);
  sinks_.erase(it);
  return S_OK;
}

HRESULT TConnectionPoint::EnumConnections(IEnumConnections** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  std::vector<StoredConnection> items;
  items.reserve(sinks_.size());
  for (const auto& c : sinks_) items.push_back({c.owner, c.cookie});
  *out = MakeComObject<TEnumConnections>(std::move(items)).Detach();
  return S_OK;
}

void TConnectionPoint::DisconnectAll() {
  std::vector<Connection> dropped;
  dropped.swap(sinks_);
}

TConnectionPoint& TConnectionPoints::Add(const IID& iid, uint32_t maxConnections) {
  points_.push_back(std::make_unique<TConnectionPoint>(container_, iid, maxConnections));
  return *points_.back();
}

TConnectionPoint* TConnectionPoints::Find(const IID& iid) const {
  for (const auto& p : points_) {
    if (p->Iid() == iid) return p.get();
  }
  return nullptr;
}

HRESULT TConnectionPoints::EnumConnectionPoints(IEnumConnectionPoints** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  std::vector<ComPtr<IConnectionPoint>> items;
  items.reserve(points_.size());
  for (const auto& p : points_) items.emplace_back(p.get());
  *out = MakeComObject<TEnumConnectionPoints>(std::move(items)).Detach();
  return S_OK;
}

HRESULT TConnectionPoints::FindConnectionPoint(const IID& iid, IConnectionPoint** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  TConnectionPoint* p = Find(iid);
  if (!p) return CONNECT_E_NOCONNECTION;
  p->AddRef();
  *out = p;
  return S_OK;
}

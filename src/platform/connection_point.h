// Connection points: how a client hands an object its callback sink
// (IOPCShutdown on the server object, IOPCDataCallback on a group).
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/com_object.h"

struct IConnectionPoint;
struct IConnectionPointContainer;

struct CONNECTDATA {
  IUnknown* pUnk;     // added reference, released by the receiver
  uint32_t dwCookie;
};
static_assert(sizeof(void*) != 8 || sizeof(CONNECTDATA) == 16);

// {B196B284-BAB4-101A-B69C-00AA00341D07}
constexpr IID IID_IConnectionPointContainer{0xB196B284, 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};
// {B196B285-BAB4-101A-B69C-00AA00341D07}
constexpr IID IID_IEnumConnectionPoints{0xB196B285, 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};
// {B196B286-BAB4-101A-B69C-00AA00341D07}
constexpr IID IID_IConnectionPoint{0xB196B286, 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};
// {B196B287-BAB4-101A-B69C-00AA00341D07}
constexpr IID IID_IEnumConnections{0xB196B287, 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};

struct IEnumConnections : IUnknown {
  virtual HRESULT Next(uint32_t count, CONNECTDATA* items, uint32_t* fetched) = 0;
  virtual HRESULT Skip(uint32_t count) = 0;
  virtual HRESULT Reset() = 0;
  virtual HRESULT Clone(IEnumConnections** out) = 0;

 protected:
  ~IEnumConnections() = default;
};

struct IEnumConnectionPoints : IUnknown {
  virtual HRESULT Next(uint32_t count, IConnectionPoint** items, uint32_t* fetched) = 0;
  virtual HRESULT Skip(uint32_t count) = 0;
  virtual HRESULT Reset() = 0;
  virtual HRESULT Clone(IEnumConnectionPoints** out) = 0;

 protected:
  ~IEnumConnectionPoints() = default;
};

struct IConnectionPoint : IUnknown {
  virtual HRESULT GetConnectionInterface(IID* iid) = 0;
  virtual HRESULT GetConnectionPointContainer(IConnectionPointContainer** out) = 0;
  virtual HRESULT Advise(IUnknown* sink, uint32_t* cookie) = 0;
  virtual HRESULT Unadvise(uint32_t cookie) = 0;
  virtual HRESULT EnumConnections(IEnumConnections** out) = 0;

 protected:
  ~IConnectionPoint() = default;
};

struct IConnectionPointContainer : IUnknown {
  virtual HRESULT EnumConnectionPoints(IEnumConnectionPoints** out) = 0;
  virtual HRESULT FindConnectionPoint(const IID& iid, IConnectionPoint** out) = 0;

 protected:
  ~IConnectionPointContainer() = default;
};

NORVO_COM_IID(IConnectionPointContainer, IID_IConnectionPointContainer);
NORVO_COM_IID(IEnumConnectionPoints, IID_IEnumConnectionPoints);
NORVO_COM_IID(IConnectionPoint, IID_IConnectionPoint);
NORVO_COM_IID(IEnumConnections, IID_IEnumConnections);

// One outgoing interface of a container object. The point is part of its
// container: its reference count is the container's, so a client holding the
// point keeps the container alive and the container may own the point.
class TConnectionPoint final : public IConnectionPoint {
 public:
  static constexpr uint32_t kUnlimited = 0;

  // container: the owning object, not owned here. maxConnections 0 allows any
  // number; 1 makes a second Advise fail with CONNECT_E_ADVISELIMIT.
  TConnectionPoint(IConnectionPointContainer* container, const IID& iid, uint32_t maxConnections);
  ~TConnectionPoint();
  TConnectionPoint(const TConnectionPoint&) = delete;
  TConnectionPoint& operator=(const TConnectionPoint&) = delete;

  HRESULT QueryInterface(const IID& iid, void** out) override;
  uint32_t AddRef() override;
  uint32_t Release() override;

  HRESULT GetConnectionInterface(IID* iid) override;
  HRESULT GetConnectionPointContainer(IConnectionPointContainer** out) override;
  HRESULT Advise(IUnknown* sink, uint32_t* cookie) override;
  HRESULT Unadvise(uint32_t cookie) override;
  HRESULT EnumConnections(IEnumConnections** out) override;

  const IID& Iid() const { return iid_; }
  bool HasConnections() const { return !sinks_.empty(); }
  size_t ConnectionCount() const { return sinks_.size(); }

  // A copy of the current sinks, already queried for I (the point's own
  // interface), so a callback that unadvises does not disturb the caller's
  // loop and a sink stays alive until the caller is done with it.
  template <class I>
  std::vector<ComPtr<I>> Sinks() const {
    std::vector<ComPtr<I>> out;
    out.reserve(sinks_.size());
    for (const auto& s : sinks_) out.emplace_back(static_cast<I*>(s.iface));
    return out;
  }
  // Drops every connection (the container is shutting down).
  void DisconnectAll();

 private:
  struct Connection {
    uint32_t cookie;
    void* iface;             // the sink queried for iid_; one reference held
    ComPtr<IUnknown> owner;  // the same reference, seen as IUnknown for Release
  };

  IConnectionPointContainer* container_;
  IID iid_;
  uint32_t max_;
  uint32_t nextCookie_ = 1;
  std::vector<Connection> sinks_;
};

// The connection points of one object; the object derives from
// IConnectionPointContainer and forwards its two methods here.
class TConnectionPoints {
 public:
  explicit TConnectionPoints(IConnectionPointContainer* container) : container_(container) {}

  TConnectionPoint& Add(const IID& iid, uint32_t maxConnections);
  TConnectionPoint* Find(const IID& iid) const;

  HRESULT EnumConnectionPoints(IEnumConnectionPoints** out);
  // CONNECT_E_NOCONNECTION for an interface the object does not call out on.
  HRESULT FindConnectionPoint(const IID& iid, IConnectionPoint** out);

 private:
  IConnectionPointContainer* container_;  // not owned: the object holding us
  std::vector<std::unique_ptr<TConnectionPoint>> points_;
};

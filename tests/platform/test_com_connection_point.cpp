#include <gtest/gtest.h>

#include <vector>

#include "fakes/com_client.h"
#include "platform/connection_point.h"

namespace {

constexpr IID IID_IShutdownSink{0x22222222, 0x1111, 0x1111, {1, 1, 1, 1, 1, 1, 1, 1}};
constexpr IID IID_IDataSink{0x22222222, 0x1111, 0x1111, {1, 1, 1, 1, 1, 1, 1, 2}};

struct IShutdownSink : IUnknown {
  virtual void Shutdown() = 0;

 protected:
  ~IShutdownSink() = default;
};
struct IDataSink : IUnknown {
  virtual void Data() = 0;

 protected:
  ~IDataSink() = default;
};

}  // namespace

NORVO_COM_IID(IShutdownSink, IID_IShutdownSink);
NORVO_COM_IID(IDataSink, IID_IDataSink);

namespace {

// A container with a single-client point (like a group's data callback) and
// an open one.
class TContainer final : public ComObject<IConnectionPointContainer> {
 public:
  explicit TContainer(bool* destroyed = nullptr) : destroyed_(destroyed), points_(this) {
    shutdown = &points_.Add(IID_IShutdownSink, TConnectionPoint::kUnlimited);
    data = &points_.Add(IID_IDataSink, 1);
  }
  ~TContainer() override {
    if (destroyed_) *destroyed_ = true;
  }
  HRESULT EnumConnectionPoints(IEnumConnectionPoints** out) override { return points_.EnumConnectionPoints(out); }
  HRESULT FindConnectionPoint(const IID& iid, IConnectionPoint** out) override {
    return points_.FindConnectionPoint(iid, out);
  }

  TConnectionPoint* shutdown;
  TConnectionPoint* data;

 private:
  bool* destroyed_;
  TConnectionPoints points_;
};

class TShutdownSink final : public ComObject<IShutdownSink> {
 public:
  void Shutdown() override {
    ++calls;
    if (onCall) onCall();
  }
  int calls = 0;
  std::function<void()> onCall;
};

class TDataSink final : public ComObject<IDataSink> {
 public:
  void Data() override {}
};

class ConnectionPoints : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(container->FindConnectionPoint(IID_IShutdownSink, shutdown.put()), S_OK);
    ASSERT_EQ(container->FindConnectionPoint(IID_IDataSink, data.put()), S_OK);
  }
  ComPtr<TContainer> container = MakeComObject<TContainer>();
  ComPtr<IConnectionPoint> shutdown;
  ComPtr<IConnectionPoint> data;
};

TEST_F(ConnectionPoints, AdviseChecksTheSinkAndTheLimit) {
  auto good = MakeComObject<TDataSink>();
  auto wrong = MakeComObject<TShutdownSink>();
  uint32_t cookie = 99;
  EXPECT_EQ(data->Advise(wrong->Identity(), &cookie), CONNECT_E_CANNOTCONNECT);
  EXPECT_EQ(cookie, 0u);
  EXPECT_EQ(data->Advise(nullptr, &cookie), E_POINTER);
  EXPECT_EQ(data->Advise(good->Identity(), nullptr), E_POINTER);

  ASSERT_EQ(data->Advise(good->Identity(), &cookie), S_OK);
  EXPECT_NE(cookie, 0u);
  EXPECT_EQ(com_client::RefCount(good->Identity()), 2u) << "the point holds one reference";
  uint32_t second = 0;
  EXPECT_EQ(data->Advise(MakeComObject<TDataSink>()->Identity(), &second), CONNECT_E_ADVISELIMIT);

  EXPECT_EQ(data->Unadvise(cookie + 1), CONNECT_E_NOCONNECTION);
  EXPECT_EQ(data->Unadvise(cookie), S_OK);
  EXPECT_EQ(data->Unadvise(cookie), CONNECT_E_NOCONNECTION);
  EXPECT_EQ(com_client::RefCount(good->Identity()), 1u);
  // The place is free again, under a new cookie.
  ASSERT_EQ(data->Advise(good->Identity(), &second), S_OK);
  EXPECT_NE(second, cookie);
}

TEST_F(ConnectionPoints, OpenPointTakesManySinksWithDistinctCookies) {
  std::vector<ComPtr<TShutdownSink>> sinks;
  std::vector<uint32_t> cookies;
  for (int i = 0; i < 3; ++i) {
    sinks.push_back(MakeComObject<TShutdownSink>());
    uint32_t c = 0;
    ASSERT_EQ(shutdown->Advise(sinks.back()->Identity(), &c), S_OK);
    cookies.push_back(c);
  }
  EXPECT_NE(cookies[0], cookies[1]);
  EXPECT_NE(cookies[1], cookies[2]);
  EXPECT_NE(cookies[0], cookies[2]);
  EXPECT_EQ(container->shutdown->ConnectionCount(), 3u);

  // A sink that unadvises itself during the callback does not disturb the
  // others' calls.
  sinks[0]->onCall = [&] { EXPECT_EQ(shutdown->Unadvise(cookies[0]), S_OK); };
  for (auto& s : container->shutdown->Sinks<IShutdownSink>()) s->Shutdown();
  for (auto& s : sinks) EXPECT_EQ(s->calls, 1);
  EXPECT_EQ(container->shutdown->ConnectionCount(), 2u);
}

TEST_F(ConnectionPoints, ContainerAnswersForItsPointsOnly) {
  IID iid{};
  ASSERT_EQ(data->GetConnectionInterface(&iid), S_OK);
  EXPECT_EQ(iid, IID_IDataSink);

  ComPtr<IConnectionPointContainer> back;
  ASSERT_EQ(data->GetConnectionPointContainer(back.put()), S_OK);
  ComPtr<IUnknown> id;
  ASSERT_EQ(back.As(&id), S_OK);
  EXPECT_EQ(id.get(), container->Identity());

  ComPtr<IConnectionPoint> none;
  EXPECT_EQ(container->FindConnectionPoint(IID_IUnknown, none.put()), CONNECT_E_NOCONNECTION);
  EXPECT_FALSE(none);
}

TEST(ConnectionPointLifetime, PointKeepsContainerAliveAndContainerReleasesSinks) {
  bool destroyed = false;
  auto sink = MakeComObject<TShutdownSink>();
  ComPtr<IConnectionPoint> point;
  {
    auto container = MakeComObject<TContainer>(&destroyed);
    ASSERT_EQ(container->FindConnectionPoint(IID_IShutdownSink, point.put()), S_OK);
    uint32_t cookie = 0;
    ASSERT_EQ(point->Advise(sink->Identity(), &cookie), S_OK);
  }
  EXPECT_FALSE(destroyed);
  point = nullptr;
  EXPECT_TRUE(destroyed);
  EXPECT_EQ(com_client::RefCount(sink->Identity()), 1u);
}

TEST_F(ConnectionPoints, EnumeratesPointsAndConnections) {
  ComPtr<IEnumConnectionPoints> points;
  ASSERT_EQ(container->EnumConnectionPoints(points.put()), S_OK);
  IConnectionPoint* got[3] = {};
  uint32_t fetched = 7;
  EXPECT_EQ(points->Next(3, got, nullptr), E_POINTER);
  ASSERT_EQ(points->Next(3, got, &fetched), S_FALSE);
  ASSERT_EQ(fetched, 2u);
  EXPECT_EQ(got[0], shutdown.get());
  EXPECT_EQ(got[1], data.get());
  for (uint32_t i = 0; i < fetched; ++i) got[i]->Release();
  EXPECT_EQ(points->Next(1, got, nullptr), S_FALSE);
  EXPECT_EQ(points->Reset(), S_OK);
  EXPECT_EQ(points->Skip(1), S_OK);
  ComPtr<IEnumConnectionPoints> clone;
  ASSERT_EQ(points->Clone(clone.put()), S_OK);
  ASSERT_EQ(clone->Next(1, got, nullptr), S_OK);  // clones keep the position
  EXPECT_EQ(got[0], data.get());
  got[0]->Release();
  EXPECT_EQ(points->Skip(5), S_FALSE);

  auto s1 = MakeComObject<TShutdownSink>();
  auto s2 = MakeComObject<TShutdownSink>();
  uint32_t c1 = 0, c2 = 0;
  ASSERT_EQ(shutdown->Advise(s1->Identity(), &c1), S_OK);
  ASSERT_EQ(shutdown->Advise(s2->Identity(), &c2), S_OK);
  ComPtr<IEnumConnections> conns;
  ASSERT_EQ(shutdown->EnumConnections(conns.put()), S_OK);
  // The enumerator is a snapshot: a later Unadvise does not change it.
  ASSERT_EQ(shutdown->Unadvise(c1), S_OK);
  CONNECTDATA cd[3] = {};
  ASSERT_EQ(conns->Next(3, cd, &fetched), S_FALSE);
  ASSERT_EQ(fetched, 2u);
  EXPECT_EQ(cd[0].dwCookie, c1);
  EXPECT_EQ(cd[1].dwCookie, c2);
  ComPtr<IUnknown> u1 = ComPtr<IUnknown>::Attach(cd[0].pUnk);
  ComPtr<IUnknown> u2 = ComPtr<IUnknown>::Attach(cd[1].pUnk);
  ComPtr<IUnknown> id1;
  ASSERT_EQ(u1.As(&id1), S_OK);
  EXPECT_EQ(id1.get(), s1->Identity());
}

}  // namespace

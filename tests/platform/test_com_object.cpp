#include <gtest/gtest.h>

#include "fakes/com_client.h"
#include "platform/com_object.h"

namespace {

constexpr IID IID_ITestA{0x11111111, 0x2222, 0x3333, {1, 2, 3, 4, 5, 6, 7, 8}};
constexpr IID IID_ITestB{0x11111111, 0x2222, 0x3333, {1, 2, 3, 4, 5, 6, 7, 9}};
constexpr IID IID_ITestC{0x11111111, 0x2222, 0x3333, {1, 2, 3, 4, 5, 6, 7, 10}};

struct ITestA : IUnknown {
  virtual int A() = 0;

 protected:
  ~ITestA() = default;
};
struct ITestB : IUnknown {
  virtual int B() = 0;

 protected:
  ~ITestB() = default;
};
// Derived interface: its base is reachable only through the extra hook.
struct ITestC : ITestA {
  virtual int C() = 0;

 protected:
  ~ITestC() = default;
};

}  // namespace

NORVO_COM_IID(ITestA, IID_ITestA);
NORVO_COM_IID(ITestB, IID_ITestB);
NORVO_COM_IID(ITestC, IID_ITestC);

namespace {

class TTwoFaced final : public ComObject<ITestA, ITestB> {
 public:
  explicit TTwoFaced(bool* destroyed = nullptr) : destroyed_(destroyed) {}
  ~TTwoFaced() override {
    if (destroyed_) *destroyed_ = true;
  }
  int A() override { return 1; }
  int B() override { return 2; }

 private:
  bool* destroyed_;
};

class TWithExtra final : public ComObject<ITestC> {
 public:
  int A() override { return 1; }
  int C() override { return 3; }

 protected:
  void* QueryExtraInterface(const IID& iid) override {
    return iid == IID_ITestA ? static_cast<ITestA*>(this) : nullptr;
  }
};

TEST(ComObject, QueryInterfaceKeepsIdentityAndCountsReferences) {
  bool destroyed = false;
  {
    ComPtr<TTwoFaced> obj = MakeComObject<TTwoFaced>(&destroyed);
    EXPECT_EQ(com_client::RefCount(obj->Identity()), 1u);

    ComPtr<ITestA> a;
    ComPtr<ITestB> b;
    ASSERT_EQ(obj->QueryInterface(IID_ITestA, a.put_void()), S_OK);
    ASSERT_EQ(a.As(&b), S_OK);
    EXPECT_EQ(a->A(), 1);
    EXPECT_EQ(b->B(), 2);
    EXPECT_EQ(com_client::RefCount(obj->Identity()), 3u);

    // IUnknown from either interface is the same pointer.
    ComPtr<IUnknown> u1, u2;
    ASSERT_EQ(a.As(&u1), S_OK);
    ASSERT_EQ(b.As(&u2), S_OK);
    EXPECT_EQ(u1.get(), u2.get());
    EXPECT_EQ(u1.get(), obj->Identity());
    // A round trip gives back the same interface pointer.
    ComPtr<ITestA> a2;
    ASSERT_EQ(b.As(&a2), S_OK);
    EXPECT_EQ(a2.get(), a.get());

    void* none = obj.get();
    EXPECT_EQ(obj->QueryInterface(IID_ITestC, &none), E_NOINTERFACE);
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(obj->QueryInterface(IID_ITestA, nullptr), E_POINTER);
    EXPECT_EQ(com_client::RefCount(obj->Identity()), 6u) << "failed queries add nothing";
  }
  EXPECT_TRUE(destroyed);
}

TEST(ComObject, BaseInterfaceThroughTheExtraHookSharesTheObject) {
  ComPtr<TWithExtra> obj = MakeComObject<TWithExtra>();
  ComPtr<ITestA> a;
  ASSERT_EQ(obj->QueryInterface(IID_ITestA, a.put_void()), S_OK);
  EXPECT_EQ(a->A(), 1);
  ComPtr<IUnknown> u;
  ASSERT_EQ(a.As(&u), S_OK);
  EXPECT_EQ(u.get(), obj->Identity());
}

TEST(ComPtr, CopiesMovesAndAdoptsWithoutLeakingReferences) {
  bool destroyed = false;
  ComPtr<TTwoFaced> obj = MakeComObject<TTwoFaced>(&destroyed);
  IUnknown* id = obj->Identity();
  {
    ComPtr<TTwoFaced> copy = obj;
    ComPtr<TTwoFaced> moved = std::move(copy);
    EXPECT_FALSE(copy);
    ComPtr<ITestA> up = moved;  // converting copy
    EXPECT_EQ(com_client::RefCount(id), 3u);
    ComPtr<ITestA> assigned;
    assigned = up;
    ComPtr<ITestA>& alias = assigned;
    assigned = alias;  // self-assignment keeps the reference
    EXPECT_EQ(com_client::RefCount(id), 4u);
    ITestB* raw = nullptr;
    ASSERT_EQ(obj->QueryInterface(IID_ITestB, reinterpret_cast<void**>(&raw)), S_OK);
    ComPtr<ITestB> adopted = ComPtr<ITestB>::Attach(raw);
    EXPECT_EQ(com_client::RefCount(id), 5u);
  }
  EXPECT_EQ(com_client::RefCount(id), 1u);
  ComPtr<ITestC> none;
  EXPECT_EQ(obj.As(&none), E_NOINTERFACE);
  EXPECT_FALSE(none);
  obj = nullptr;
  EXPECT_TRUE(destroyed);
}

// Counts the hook's calls and restores the empty hook.
class LastReleaseHook : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(ComLiveObjects(), 0) << "another test leaked a COM object";
    SetComLastReleaseHook([this] { ++calls; });
  }
  void TearDown() override { SetComLastReleaseHook({}); }
  int calls = 0;
};

TEST_F(LastReleaseHook, FiresWhenTheLastObjectGoes) {
  ComPtr<TTwoFaced> first = MakeComObject<TTwoFaced>();
  ComPtr<TTwoFaced> second = MakeComObject<TTwoFaced>();
  EXPECT_EQ(ComLiveObjects(), 2);
  first = nullptr;
  EXPECT_EQ(calls, 0);
  second = nullptr;
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(ComLiveObjects(), 0);
}

TEST_F(LastReleaseHook, ServerLockKeepsTheProcessAlive) {
  ComPtr<IClassFactory> factory = MakeComObject<TComClassFactory>(nullptr);
  EXPECT_EQ(factory->LockServer(1), S_OK);
  factory = nullptr;
  EXPECT_EQ(calls, 0);
  EXPECT_EQ(ComLiveObjects(), 1);
  ComLockServer(false);
  EXPECT_EQ(calls, 1);
  // An unlock without a lock is ignored rather than counted against objects.
  ComLockServer(false);
  EXPECT_EQ(ComLiveObjects(), 0);
  EXPECT_EQ(calls, 1);
}

TEST(ClassFactory, CreatesThroughItsCreatorAndRefusesAggregation) {
  int made = 0;
  ComPtr<IClassFactory> factory = MakeComObject<TComClassFactory>([&](const IID& iid, void** out) {
    ++made;
    return QueryNew(MakeComObject<TTwoFaced>(), iid, out);
  });
  ComPtr<ITestB> b;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_ITestB, b.put_void()), S_OK);
  EXPECT_EQ(b->B(), 2);
  EXPECT_EQ(com_client::RefCount(b.get()), 1u);

  ComPtr<ITestC> c;
  EXPECT_EQ(factory->CreateInstance(nullptr, IID_ITestC, c.put_void()), E_NOINTERFACE);
  EXPECT_FALSE(c);
  ComPtr<ITestA> a;
  EXPECT_EQ(factory->CreateInstance(b.get(), IID_ITestA, a.put_void()), CLASS_E_NOAGGREGATION);
  EXPECT_EQ(made, 2);

  ComPtr<IClassFactory> empty = MakeComObject<TComClassFactory>(nullptr);
  EXPECT_EQ(empty->CreateInstance(nullptr, IID_ITestA, a.put_void()), CLASS_E_CLASSNOTAVAILABLE);
}

}  // namespace

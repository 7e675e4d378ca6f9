#include "model/tag_environment.h"

#include <chrono>
#include <ctime>

namespace {

// Stands in until the controller installs its own, so a tag never meets a
// missing environment. Reads the clocks directly rather than a cache.
class DefaultTagEnvironment final : public ITagEnvironment {
 public:
  bool EnableBad() const override { return true; }
  bool EnableUncertain() const override { return true; }
  uint32_t UncertainTime() const override { return 5; }
  uint32_t BadTime() const override { return 10; }
  TDateTime CachedNow() const override { return LocalNow(); }
  uint32_t CachedTick() const override {
    using namespace std::chrono;
    return static_cast<uint32_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
  }
  TDateTime PresentTime() const override { return LocalNow(); }
  bool PermissionRecent() const override { return false; }

 private:
  static TDateTime LocalNow() {
    using namespace std::chrono;
    const auto since_epoch = system_clock::now().time_since_epoch();
    const std::time_t secs = duration_cast<seconds>(since_epoch).count();
    std::tm local{};
    localtime_r(&secs, &local);
    const double ms = static_cast<double>(duration_cast<milliseconds>(since_epoch).count()) +
                      static_cast<double>(local.tm_gmtoff) * 1000.0;
    constexpr double kUnixEpochAsDate = 25569.0;  // 1970-01-01 in days since 1899-12-30
    return kUnixEpochAsDate + ms / 86400000.0;
  }
};

DefaultTagEnvironment g_default;
ITagEnvironment* g_current = nullptr;

}  // namespace

void SetTagEnvironment(ITagEnvironment* env) { g_current = env; }

ITagEnvironment& TagEnvironment() { return g_current ? *g_current : g_default; }

ITagEnvironment* ScopedTagEnvironment::current() { return g_current; }

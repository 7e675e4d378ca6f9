#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "core/deferred_queue.h"
#include "core/main_instance.h"

namespace {

struct FakeLink : TInstanceLink {
  std::optional<int64_t> queryAnswer = 0;
  std::vector<std::string> log;
  std::optional<int64_t> Send(uint32_t msg, const std::string& payload, int64_t lParam) override {
    log.push_back("send " + std::to_string(msg) + " " + std::to_string(lParam) + " [" + payload + "]");
    return msg == WM_INSTANCE_QUERY ? queryAnswer : std::optional<int64_t>(0);
  }
  bool Post(uint32_t msg) override {
    log.push_back("post " + std::to_string(msg));
    return true;
  }
};

}  // namespace

TEST(MainInstance, WithoutArgumentsSendsNoChunksButStillTheEnd) {
  FakeLink link;
  EXPECT_TRUE(TMainInstance::HandOff(link, {}, "/home/op"));
  const std::vector<std::string> expected = {"send 1030 0 []", "send 1035 0 []", "post 1032"};
  EXPECT_EQ(link.log, expected);
}

TEST(MainInstance, HandsTheCommandLineInChunksOf200) {
  FakeLink link;
  const std::string longName(450, 'a');
  EXPECT_TRUE(TMainInstance::HandOff(link, {"/" + longName}, "/cwd"));
  ASSERT_EQ(link.log.size(), 6u);  // query, activate, 3 chunks, end
  EXPECT_EQ(link.log[2].substr(0, 14), "send 1031 200 ");
  EXPECT_EQ(link.log[4], "send 1031 52 [" + std::string(51, 'a') + "\x1b]");
  EXPECT_EQ(link.log[5], "post 1032");
}

TEST(MainInstance, AnUnansweredQueryStillEndsTheSecondInstance) {
  FakeLink link;
  link.queryAnswer = std::nullopt;
  EXPECT_TRUE(TMainInstance::HandOff(link, {"-SHOW"}, "/cwd"));
  link.queryAnswer = 1;  // several instances allowed: go on starting
  link.log.clear();
  EXPECT_FALSE(TMainInstance::HandOff(link, {"-SHOW"}, "/cwd"));
  EXPECT_EQ(link.log.size(), 1u);
}

TEST(MainInstance, ParamsTextExpandsPathsAndKeepsSlashSwitches) {
  EXPECT_EQ(InstanceParamsText({" -SHOW ", "/EMBEDDING", ".", "..", "", "sub/p.alc"}, "/home/op"),
            "/home/op/-SHOW\t/EMBEDDING\t.\t..\t\t/home/op/sub/p.alc\x1b");
  EXPECT_EQ(InstanceParamsText({}, "/x"), "");
  EXPECT_TRUE(SplitParamsText("").empty());
}

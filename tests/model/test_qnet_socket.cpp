// Sockets: wire-size ordering and decoding of observed payloads.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "fakes/fake_tag_environment.h"
#include "model/norvo_model.h"
#include "model/tag_view.h"

namespace {

class RecordingView final : public ITagTableView {
 public:
  void AddRow(TNorvoVar& Tag) override { rows.push_back(&Tag); }
  void RemoveRow(TNorvoVar& Tag) override { std::erase(rows, &Tag); }
  void MarkReceived(bool Ok) override { marks.push_back(Ok); }
  std::vector<TNorvoVar*> rows;
  std::vector<bool> marks;
};

struct SocketFixture : ::testing::Test {
  TNorvoVar& Tag(const char* name, uint8_t type) {
    plc.FTags.push_back(std::make_unique<TNorvoVar>(&plc, name));
    plc.FTags.back()->FVarType = type;
    return *plc.FTags.back();
  }
  FakeTagEnvironment env;
  TNorvoModel plc;
};

TEST_F(SocketFixture, OrdersBySizeKeepingFileOrderWithinASize) {
  TQNETSocket s(true, 3);
  RecordingView view;
  s.FView = &view;
  TNorvoVar& l = Tag("l", ntLong);
  TNorvoVar& b1 = Tag("b1", ntBit);
  TNorvoVar& i = Tag("i", ntInt);
  TNorvoVar& b2 = Tag("b2", ntBit);
  for (TNorvoVar* t : {&l, &b1, &i, &b2}) s.AddTag(*t);
  EXPECT_EQ(s.FTags, (std::vector<TNorvoVar*>{&b1, &b2, &i, &l}));
  EXPECT_EQ(s.FSize, 8);
  EXPECT_EQ(view.rows.size(), 4u);
}

TEST_F(SocketFixture, ShortPayloadChangesNothingLongerOneFillsEveryTag) {
  TQNETSocket s(true, 3);
  RecordingView view;
  s.FView = &view;
  TNorvoVar& l = Tag("l", ntLong);
  TNorvoVar& b1 = Tag("b1", ntBit);
  TNorvoVar& i = Tag("i", ntInt);
  TNorvoVar& b2 = Tag("b2", ntBit);
  for (TNorvoVar* t : {&l, &b1, &i, &b2}) s.AddTag(*t);

  const uint8_t data[10] = {0x01, 0xFF, 0xFE, 0xFF, 0x78, 0x56, 0x34, 0x12, 0xAA, 0xBB};
  s.ReceiveData(7, data);
  for (TNorvoVar* t : {&l, &b1, &i, &b2}) EXPECT_FALSE(t->FValid);

  s.ReceiveData(10, data);
  EXPECT_EQ(b1.FValue, 1);
  EXPECT_EQ(b2.FValue, 0xFF);
  EXPECT_EQ(i.FValue, -2);  // ints are signed
  EXPECT_EQ(l.FValue, 0x12345678);
  EXPECT_EQ(view.marks, (std::vector<bool>{false, true}));
}

// The partner keeps sending the whole block after one of our tags is
// released, so the others must still be read from their own bytes.
TEST_F(SocketFixture, ReleasedTagKeepsItsBytesInTheBlock) {
  TQNETSocket s(true, 3);
  RecordingView view;
  s.FView = &view;
  TNorvoVar& l = Tag("l", ntLong);
  TNorvoVar& b1 = Tag("b1", ntBit);
  TNorvoVar& i = Tag("i", ntInt);
  TNorvoVar& b2 = Tag("b2", ntBit);
  for (TNorvoVar* t : {&l, &b1, &i, &b2}) s.AddTag(*t);

  EXPECT_TRUE(s.RemoveTag(b2));
  EXPECT_FALSE(s.RemoveTag(b2));
  EXPECT_EQ(s.FTags, (std::vector<TNorvoVar*>{&b1, &i, &l}));
  EXPECT_EQ(view.rows, (std::vector<TNorvoVar*>{&l, &b1, &i}));
  EXPECT_EQ(s.FSize, 8);

  const uint8_t data[8] = {0x01, 0x02, 0x03, 0x00, 0x78, 0x56, 0x34, 0x12};
  s.ReceiveData(7, data);
  EXPECT_FALSE(b1.FValid);
  s.ReceiveData(8, data);
  EXPECT_EQ(b1.FValue, 1);
  EXPECT_EQ(i.FValue, 3);
  EXPECT_EQ(l.FValue, 0x12345678);
  EXPECT_FALSE(b2.FValid);

  // With every tag gone the frame is still a whole block, and harmless.
  for (TNorvoVar* t : {&b1, &i, &l}) s.RemoveTag(*t);
  s.ReceiveData(8, data);
  EXPECT_EQ(view.marks, (std::vector<bool>{false, true, true}));
}

TEST_F(SocketFixture, WordIsUnsignedAndNullDataIsRefused) {
  TQNETSocket s(false, 0);
  TNorvoVar& w = Tag("w", ntWord);
  s.AddTag(w);
  s.ReceiveData(4, nullptr);
  EXPECT_FALSE(w.FValid);
  const uint8_t data[2] = {0xFE, 0xFF};
  s.ReceiveData(2, data);
  EXPECT_EQ(w.FValue, 0xFFFE);
}

}  // namespace

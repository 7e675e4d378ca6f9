#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "comm/qnet_codec.h"
#include "comm/qnet_frame.h"
#include "vectors/qnet_vectors.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Of(const TQnetTxBuffer& tx) { return Bytes(tx.Bytes().begin(), tx.Bytes().end()); }

struct RecordingSink : IQnetRxSink {
  bool log = true;
  std::vector<std::string> lines;
  std::vector<Bytes> frames;
  std::vector<std::pair<TQnetFrameError, uint32_t>> errors;

  bool QnetLogEnabled() const override { return log; }
  void QnetLog(std::string_view line) override { lines.emplace_back(line); }
  void QnetFrameError(TQnetFrameError e, uint32_t nad) override { errors.emplace_back(e, nad); }
  void QnetFrameReceived(const TQnetFrame& f) override { frames.emplace_back(f.FBytes, f.FBytes + f.FSize); }
  bool Logged(std::string_view text) const {
    for (const auto& l : lines)
      if (l == text) return true;
    return false;
  }
};

// An answer frame from `sender` to NAD 100 with `n` data bytes.
Bytes Answer(uint32_t sender, size_t n, uint8_t fill = 0x11) {
  TQnetTxBuffer tx;
  Bytes data(n, fill);
  EXPECT_TRUE(EncodeAnswer(tx, sender, 100, kMsgDirAnswer, kMsgTypAnswer, data));
  return Of(tx);
}

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// A frame with an arbitrary length field and a correct checksum.
Bytes FrameWithLength(uint16_t len) {
  Bytes f = {0xAA, 0x55, static_cast<uint8_t>(len), static_cast<uint8_t>(len >> 8), 1, 0, 0, 0, 100, 0, 0, 0};
  f.resize(12 + len, 0);
  if (len >= 2) f[12] = 1;
  const uint16_t sum = FrameChecksum(f.data(), f.size());
  f.push_back(static_cast<uint8_t>(sum));
  f.push_back(static_cast<uint8_t>(sum >> 8));
  return f;
}

TEST(QnetChecksum, RunningSumsOfStatusRequest) {
  for (size_t i = 0; i < std::size(qnet_vectors::kStatusRunningSums); ++i) {
    EXPECT_EQ(FrameChecksum(qnet_vectors::kStatusRequest, i + 1), qnet_vectors::kStatusRunningSums[i]) << i;
  }
  // The block read is longer than 16 bytes, so the weights start over.
  EXPECT_EQ(FrameChecksum(qnet_vectors::kBlockRead, sizeof qnet_vectors::kBlockRead - 2), 0x09CC);
}

TEST(QnetEncode, RequestsByteForByte) {
  TQnetTxBuffer tx;
  ASSERT_TRUE(EncodeReadStatus(tx, 100, 1000, 0));
  EXPECT_EQ(Of(tx), Bytes(std::begin(qnet_vectors::kStatusRequest), std::end(qnet_vectors::kStatusRequest)));

  ASSERT_TRUE(EncodeReadBlock(tx, 100, 1000, 0x10, 4, 0));
  EXPECT_EQ(Of(tx), Bytes(std::begin(qnet_vectors::kBlockRead), std::end(qnet_vectors::kBlockRead)));

  // A bit at 5, a long at 8 and an int at 20 travel grouped by size.
  const TQnetItem list[] = {{5, 1, 0}, {8, 4, 0}, {20, 2, 0}};
  ASSERT_TRUE(EncodeReadList(tx, 100, 1000, list, 0));
  EXPECT_EQ(QnetWord(&tx.FTxBuffer[2]), 15);
  EXPECT_EQ(Bytes(tx.FTxBuffer.begin() + 14, tx.FTxBuffer.begin() + 27),
            (Bytes{0x33, 1, 0, 1, 0, 1, 0, 5, 0, 0x14, 0, 8, 0}));

  const TQnetItem write[] = {{64, 4, 255}};
  ASSERT_TRUE(EncodeWriteBlock(tx, 100, 1000, 64, write, 0));
  EXPECT_EQ(QnetWord(&tx.FTxBuffer[2]), 11);
  EXPECT_EQ(Bytes(tx.FTxBuffer.begin() + 14, tx.FTxBuffer.begin() + 23),
            (Bytes{0x32, 0x40, 0, 4, 0, 0xFF, 0, 0, 0}));

  // List write: addresses then values, both grouped; a long goes low word first.
  const TQnetItem lw[] = {{8, 4, 0x12345678}, {5, 1, 0x1FF}, {20, 2, 0xABCD}};
  ASSERT_TRUE(EncodeWriteList(tx, 100, 1000, lw, 0));
  EXPECT_EQ(QnetWord(&tx.FTxBuffer[2]), 9 + 6 + 7);
  EXPECT_EQ(Bytes(tx.FTxBuffer.begin() + 21, tx.FTxBuffer.begin() + 34),
            (Bytes{5, 0, 20, 0, 8, 0, 0xFF, 0xCD, 0xAB, 0x78, 0x56, 0x34, 0x12}));
  TQnetFrame f;
  EXPECT_TRUE(ParseQnetFrame(tx.Bytes(), f));
}

TEST(QnetEncode, ClockBytesFromLocalTime) {
  // 2024-03-05 is day 45356 of the OLE calendar, a Tuesday.
  const TDateTime when = 45356.0 + (13 * 3600 + 7 * 60 + 9) / 86400.0;
  TQnetTxBuffer tx;
  ASSERT_TRUE(EncodeSetClock(tx, 100, 1000, QnetClockFromDateTime(when), 0));
  EXPECT_EQ(QnetWord(&tx.FTxBuffer[2]), 10);
  EXPECT_EQ(Bytes(tx.FTxBuffer.begin() + 14, tx.FTxBuffer.begin() + 22),
            (Bytes{0x70, 0x18, 0x03, 0x05, 0x02, 0x0D, 0x07, 0x09}));
  // Leap day and the day of the week across a year's end.
  const TQnetClock leap = QnetClockFromDateTime(45351.0);  // 2024-02-29, Thursday
  EXPECT_EQ(leap.FMonth, 2);
  EXPECT_EQ(leap.FDay, 29);
  EXPECT_EQ(leap.FDayOfWeek, 4);
  const TQnetClock nye = QnetClockFromDateTime(45657.999999);  // 2024-12-31 23:59:59.9
  EXPECT_EQ(nye.FYear, 2024);
  EXPECT_EQ(nye.FSecond, 59);
  EXPECT_EQ(QnetYearByte(2255), 0xFF);
}

TEST(QnetEncode, PermissionReturnAndPassword) {
  TQnetTxBuffer tx;
  ASSERT_TRUE(EncodePermissionReturn(tx, 100, 1, 0));
  Bytes expect = {0xAA, 0x55, 0x02, 0x00, 100, 0, 0, 0, 1, 0, 0, 0, 1, 1};
  const uint16_t sum = FrameChecksum(expect.data(), expect.size());
  expect.push_back(sum & 0xFF);
  expect.push_back(sum >> 8);
  EXPECT_EQ(Of(tx), expect);

  // Password 0x1234: length 5, password low byte first, checksum covers it.
  ASSERT_TRUE(EncodeReadStatus(tx, 100, 1000, 0x1234));
  ASSERT_EQ(tx.FTxLength, 19u);
  EXPECT_EQ(QnetWord(&tx.FTxBuffer[2]), 5);
  EXPECT_EQ(tx.FTxBuffer[15], 0x34);
  EXPECT_EQ(tx.FTxBuffer[16], 0x12);
  EXPECT_EQ(QnetWord(&tx.FTxBuffer[17]), FrameChecksum(tx.FTxBuffer.data(), 17));
}

TEST(QnetEncode, RefusesFramesThatCannotBeSent) {
  TQnetTxBuffer tx;
  // 600 list entries need a length of 9 + 1200: over the limit.
  std::vector<TQnetItem> many(600, TQnetItem{0, 2, 0});
  EXPECT_FALSE(EncodeReadList(tx, 100, 1, many, 0));
  // More than the buffer holds: the push is refused, never written past the end.
  std::vector<TQnetItem> huge(1201, TQnetItem{0, 4, 0});
  EXPECT_FALSE(EncodeWriteList(tx, 100, 1, huge, 0));
  EXPECT_TRUE(tx.FOverflow);
  EXPECT_LE(tx.FTxLength, kQnetTxBufferSize);
  // A length field that disagrees with the body.
  tx.BeginFrame(3, 100, 1);
  tx.PushByte(0);
  tx.PushByte(0);
  EXPECT_FALSE(tx.FinishFrame(0));
  // A wire size other than 1, 2 or 4.
  const TQnetItem odd[] = {{0, 3, 0}};
  EXPECT_FALSE(EncodeReadList(tx, 100, 1, odd, 0));
}

TEST(QnetDecode, ValuesByType) {
  const uint8_t b[] = {0xFE, 0xFF, 0x12, 0x80};
  struct Case {
    uint8_t type;
    uint32_t expect;
  } cases[] = {{1, 0xFE}, {2, 0xFFFE}, {3, 0xFFFFFFFE}, {4, 0x8012FFFE}, {5, 0x8012FFFE}, {0x83, 0xFFFFFFFE}};
  for (const auto& c : cases) EXPECT_EQ(DecodeValue(b, c.type), c.expect) << int(c.type);
  const uint8_t pos[] = {0x34, 0x12};
  EXPECT_EQ(DecodeValue(pos, 3), 0x1234u);
  for (uint8_t t : {0, 6, 7, 10, 128})
    EXPECT_THROW(DecodeValue(b, t), ENotSupportedType) << int(t);
  EXPECT_THROW(DecodeValue(std::span<const uint8_t>(b, 3), 4), std::out_of_range);
  try {
    DecodeValue(b, 6);
  } catch (const ENotSupportedType& e) {
    EXPECT_STREQ(e.what(), "Not supported type");
  }
}

class QnetExtract : public ::testing::Test {
 protected:
  TQnetRxBuffer rx;
  TQnetRxStamp stamp;
  RecordingSink sink;
  int Feed(const Bytes& b, uint32_t tick, TQnetTransport t = TQnetTransport::Serial) {
    return ReceiveBytes(rx, stamp, b, tick, t, sink);
  }
};

TEST_F(QnetExtract, TwoFramesInOneChunkInOrder) {
  const Bytes a = Answer(1, 3, 0xA1), b = Answer(2, 1, 0xB2);
  EXPECT_EQ(Feed(Cat({a, b}), 0), 2);
  ASSERT_EQ(sink.frames.size(), 2u);
  EXPECT_EQ(sink.frames[0], a);
  EXPECT_EQ(sink.frames[1], b);
  EXPECT_EQ(rx.FCount, 0u);
  EXPECT_TRUE(sink.Logged("Preserved: " + std::to_string(b.size())));
  EXPECT_TRUE(sink.errors.empty());
}

TEST_F(QnetExtract, AtMostFourFramesPerEvent) {
  Bytes chunk;
  for (uint32_t i = 1; i <= 6; ++i) chunk = Cat({chunk, Answer(i, 0)});
  EXPECT_EQ(Feed(chunk, 0), 4);
  EXPECT_EQ(rx.FCount, 32u);  // two frames of 16 bytes wait
  EXPECT_EQ(Feed({}, 10), 2);
  ASSERT_EQ(sink.frames.size(), 6u);
  EXPECT_EQ(QnetLong(sink.frames[5].data() + 4), 6u);
}

TEST_F(QnetExtract, SplitFrameJoinsWithinStaleLimit) {
  const Bytes f = Answer(7, 20);
  const Bytes head(f.begin(), f.begin() + 10), tail(f.begin() + 10, f.end());
  EXPECT_EQ(Feed(head, 1000), 0);
  EXPECT_EQ(Feed(tail, 1100), 1);
  ASSERT_EQ(sink.frames.size(), 1u);
  EXPECT_EQ(sink.frames[0], f);
}

TEST_F(QnetExtract, SplitFrameLostAfterThreeSeconds) {
  const Bytes f = Answer(7, 20);
  const Bytes head(f.begin(), f.begin() + 10), tail(f.begin() + 10, f.end());
  EXPECT_EQ(Feed(head, 0xFFFFFF00u), 0);  // across the tick wrap
  EXPECT_EQ(Feed(tail, 0xFFFFFF00u + 3000), 0);
  EXPECT_TRUE(sink.Logged("Reseted rx buffer"));
  EXPECT_TRUE(sink.frames.empty());
  ASSERT_EQ(sink.errors.size(), 1u);
  EXPECT_EQ(sink.errors[0].first, TQnetFrameError::BadPreamble);
  EXPECT_EQ(rx.FCount, 0u);
}

TEST_F(QnetExtract, GarbageBeforeFrameIsDroppedSilently) {
  const Bytes f = Answer(3, 4);
  EXPECT_EQ(Feed(Cat({{0x00, 0xAA, 0x13, 0x55, 0xFF}, f}), 0), 1);
  EXPECT_EQ(sink.frames[0], f);
  EXPECT_TRUE(sink.errors.empty());
  EXPECT_EQ(rx.FCount, 0u);
  // The serial dumps show the whole buffer, then the candidate.
  EXPECT_EQ(sink.lines[0].substr(0, 21), "[SB] (00 AA 13 55 FF ");
  EXPECT_EQ(sink.lines[1].substr(0, 12), "[Rc] (AA 55 ");
}

TEST_F(QnetExtract, ErrorsEmptyTheBufferWithTheirText) {
  struct Case {
    Bytes bytes;
    TQnetTransport transport;
    TQnetFrameError error;
    std::string text;
    uint32_t nad;
  };
  Bytes crc = Answer(9, 2);
  crc.back() ^= 1;
  Bytes noise(20);
  for (size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<uint8_t>(0x10 + i);
  const Case cases[] = {
      {noise, TQnetTransport::Serial, TQnetFrameError::BadPreamble, "Bad preamble (expecting AA 55 in [RC])", 0x17161514},
      {noise, TQnetTransport::Udp, TQnetFrameError::BadPreamble, "UDP Bad preamble (expecting AA 55)", 0x17161514},
      {crc, TQnetTransport::Serial, TQnetFrameError::BadCrc, "BAD CRC", 9},
      {crc, TQnetTransport::Udp, TQnetFrameError::BadCrc, "UDP BAD CRC", 9},
      {FrameWithLength(1200), TQnetTransport::Serial, TQnetFrameError::LengthExceeded, "Length Exceeded 1200 bytes", 1},
      {FrameWithLength(1200), TQnetTransport::Udp, TQnetFrameError::LengthExceeded, "UDP Length Exceeded 1200 bytes", 1},
  };
  for (const auto& c : cases) {
    rx.Clear();
    sink = RecordingSink{};
    // A good frame behind a bad one goes too; noise is fed alone since a
    // preamble anywhere after it would make the noise skippable garbage.
    const bool noisy = c.error == TQnetFrameError::BadPreamble;
    EXPECT_EQ(Feed(noisy ? c.bytes : Cat({c.bytes, Answer(1, 0)}), 0, c.transport), 0) << c.text;
    ASSERT_EQ(sink.errors.size(), 1u) << c.text;
    EXPECT_EQ(sink.errors[0].first, c.error);
    EXPECT_EQ(sink.errors[0].second, c.nad);
    EXPECT_TRUE(sink.Logged(c.text)) << c.text;
    EXPECT_EQ(rx.FCount, 0u);
  }
  // Without the log option errors are still counted, but nothing is logged.
  rx.Clear();
  sink = RecordingSink{};
  sink.log = false;
  Feed(noise, 0);
  EXPECT_EQ(sink.errors.size(), 1u);
  EXPECT_TRUE(sink.lines.empty());
}

TEST_F(QnetExtract, PreambleSplitAfterNoiseSurvives) {
  const Bytes f = Answer(4, 3);
  Bytes noise(16, 0x21);
  noise.push_back(0xAA);
  EXPECT_EQ(Feed(noise, 0), 0);
  EXPECT_EQ(sink.errors.size(), 1u);
  EXPECT_EQ(Feed(Bytes(f.begin() + 1, f.end()), 10), 1);
  ASSERT_EQ(sink.frames.size(), 1u);
  EXPECT_EQ(sink.frames[0], f);
}

TEST_F(QnetExtract, LengthLimitAndShortBodies) {
  EXPECT_EQ(Feed(FrameWithLength(1199), 0), 1);
  ASSERT_EQ(sink.frames.size(), 1u);
  EXPECT_EQ(sink.frames[0].size(), 1213u);

  // L = 0 passes the checksum but has no direction or type byte to read.
  struct BodySink : RecordingSink {
    uint8_t dir = 0, typ = 0;
    bool body = true;
    void QnetFrameReceived(const TQnetFrame& f) override {
      dir = f.FMsgDir;
      typ = f.FMsgTyp;
      body = f.HasBody();
    }
  } body;
  const Bytes empty = FrameWithLength(0);
  EXPECT_EQ(ReceiveBytes(rx, stamp, empty, 0, TQnetTransport::Udp, body), 1);
  EXPECT_FALSE(body.body);
  EXPECT_EQ(body.dir, 0xFF);
  EXPECT_EQ(body.typ, 0xFF);
}

TEST_F(QnetExtract, OverflowDropsBufferAndNewBytes) {
  const Bytes f = Answer(1, 1000);
  EXPECT_EQ(Feed(Bytes(f.begin(), f.begin() + 1000), 0), 0);
  EXPECT_EQ(Feed(Bytes(1901, 0), 1), 0);
  EXPECT_EQ(rx.FCount, 0u);
  EXPECT_EQ(Feed(Answer(2, 1), 2), 1);
}

TEST(QnetParse, ReadAnswerOffsets) {
  // List: a bit at 5, a long at 8, an int at 20 answer as bit, int, long.
  const TQnetItem list[] = {{5, 1, 0}, {8, 4, 0}, {20, 2, 0}};
  size_t off[3] = {99, 99, 99};
  EXPECT_FALSE(ReadAnswerOffsets(list, true, 0, 6, off));
  EXPECT_EQ(off[0], 99u);
  ASSERT_TRUE(ReadAnswerOffsets(list, true, 0, 7, off));
  EXPECT_EQ(off[0], 0u);
  EXPECT_EQ(off[1], 3u);
  EXPECT_EQ(off[2], 1u);
  // Block: an int at 10 and a long at 14 need 8 bytes from 10.
  const TQnetItem block[] = {{10, 2, 0}, {14, 4, 0}};
  EXPECT_FALSE(ReadAnswerOffsets(block, false, 10, 7, off));
  ASSERT_TRUE(ReadAnswerOffsets(block, false, 10, 8, off));
  EXPECT_EQ(off[0], 0u);
  EXPECT_EQ(off[1], 4u);
  EXPECT_FALSE(ReadAnswerOffsets(block, false, 12, 100, off));  // a tag before the start
}

TEST(QnetParse, ParseRequestViewsParameters) {
  TQnetTxBuffer tx;
  const TQnetItem lw[] = {{8, 4, 0x12345678}, {5, 1, 0x7F}};
  ASSERT_TRUE(EncodeWriteList(tx, 100, 1, lw, 0xBEEF));
  TQnetFrame f;
  ASSERT_TRUE(ParseQnetFrame(tx.Bytes(), f));
  TQnetRequest r;
  ASSERT_EQ(ParseRequest(f, r), TQnetParse::Ok);
  EXPECT_EQ(r.FCommand, kCmdWriteList);
  ASSERT_EQ(r.ListCount(), 2u);
  EXPECT_EQ(r.ListAddress(0), 5);
  EXPECT_EQ(r.ListSize(0), 1);
  EXPECT_EQ(r.ListAddress(1), 8);
  EXPECT_EQ(r.ListSize(1), 4);
  EXPECT_EQ(r.FValuesLength, 5u);
  ASSERT_EQ(r.FTrailerLength, 2u);
  EXPECT_EQ(QnetWord(r.FTrailer), 0xBEEF);

  // Counts that promise more addresses than the frame holds.
  tx.BeginFrame(0, 100, 1);
  for (uint8_t b : Bytes{0, 0, kCmdReadList, 5, 0, 0, 0, 0, 0, 1, 0}) tx.PushByte(b);
  tx.SetFrameLength(static_cast<uint16_t>(tx.BodyLength()));
  ASSERT_TRUE(tx.FinishFrame(0));
  ASSERT_TRUE(ParseQnetFrame(tx.Bytes(), f));
  EXPECT_EQ(ParseRequest(f, r), TQnetParse::Truncated);

  ASSERT_TRUE(EncodeAnswer(tx, 1, 100, 0, 0, Bytes{0x99}));
  ASSERT_TRUE(ParseQnetFrame(tx.Bytes(), f));
  EXPECT_EQ(ParseRequest(f, r), TQnetParse::UnknownCommand);
  ASSERT_TRUE(EncodeAnswer(tx, 1, 100, 1, 0, Bytes{}));
  ASSERT_TRUE(ParseQnetFrame(tx.Bytes(), f));
  EXPECT_EQ(ParseRequest(f, r), TQnetParse::NotARequest);
}

}  // namespace

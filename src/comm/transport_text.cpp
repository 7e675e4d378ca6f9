#include "comm/transport_text.h"

#include <cstdio>
#include <string_view>

#include "common/ansi_text.h"
#include "platform/date_time.h"

std::string CommTimeText(TDateTime Now) {
  int h = 0, m = 0, s = 0, ms = 0;
  DecodeTime(Now, h, m, s, ms);
  char text[32];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d:%03d", h, m, s, ms);
  return text;
}

std::string FrameCharsText(std::span<const uint8_t> Bytes) {
  std::string ansi;
  ansi.reserve(Bytes.size());
  for (uint8_t b : Bytes) ansi.push_back(static_cast<char>(b < 15 ? b + 223 : b));
  return AnsiToUtf8(ansi);
}

std::string FrameHexText(std::span<const uint8_t> Bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(Bytes.size() * 3);
  for (uint8_t b : Bytes) {
    out.push_back(kDigits[b >> 4]);
    out.push_back(kDigits[b & 15]);
    out.push_back(' ');
  }
  return out;
}

namespace {

std::string Dump(std::string_view tag, int port, TDateTime now, std::span<const uint8_t> bytes,
                 std::string_view open) {
  std::string line(tag);
  line += " COM" + std::to_string(port) + " [" + CommTimeText(now) + "] ";
  line += FrameCharsText(bytes);
  line += open;
  line += FrameHexText(bytes);
  line += ")";
  return line;
}

}  // namespace

std::string SerialRxDump(int Port, TDateTime Now, std::span<const uint8_t> Bytes) {
  return Dump("[Rx]", Port, Now, Bytes, "  (");
}

std::string SerialTxDump(int Port, TDateTime Now, std::span<const uint8_t> Bytes) {
  return Dump("[Tx]", Port, Now, Bytes, "  ( ");
}

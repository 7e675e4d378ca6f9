#include "core/main_instance.h"

#include <filesystem>

#include "core/deferred_queue.h"

namespace {

std::string Trim(const std::string& s) {
  const auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  size_t b = 0, e = s.size();
  while (b < e && isSpace(s[b])) ++b;
  while (e > b && isSpace(s[e - 1])) --e;
  return s.substr(b, e - b);
}

std::string FullPath(const std::string& arg, const std::string& currentDir) {
  std::filesystem::path p = std::filesystem::path(currentDir) / arg;
  return p.lexically_normal().string();
}

}  // namespace

std::string InstanceParamsText(const std::vector<std::string>& args, const std::string& currentDir) {
  if (args.empty()) return {};
  std::string text;
  for (size_t i = 0; i < args.size(); ++i) {
    std::string a = Trim(args[i]);
    if (!a.empty() && a != "." && a != ".." && a[0] != '/') a = FullPath(a, currentDir);
    if (i > 0) text += '\t';
    text += a;
  }
  text += '\x1b';
  return text;
}

std::vector<std::string> SplitParamsText(const std::string& text, size_t chunkSize) {
  std::vector<std::string> chunks;
  if (chunkSize == 0) return chunks;
  for (size_t pos = 0; pos < text.size(); pos += chunkSize) chunks.push_back(text.substr(pos, chunkSize));
  return chunks;
}

bool TMainInstance::HandOff(TInstanceLink& link, const std::vector<std::string>& args,
                            const std::string& currentDir) {
  const auto allowed = link.Send(WM_INSTANCE_QUERY, {}, 0);
  if (allowed && *allowed == 1) return false;
  link.Send(WM_INSTANCE_ACTIVATE, {}, 0);
  for (const auto& chunk : SplitParamsText(InstanceParamsText(args, currentDir)))
    link.Send(WM_INSTANCE_PARAMS, chunk, static_cast<int64_t>(chunk.size()));
  link.Post(WM_INSTANCE_PARAMS_END);
  return true;
}

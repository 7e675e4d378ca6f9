// Allocation and project file reader on arbitrary bytes. The input is the
// allocation file, optionally followed by "\n=====\n" and the project file.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "model/load_project.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  constexpr std::string_view kSeparator = "\n=====\n";
  const size_t cut = input.find(kSeparator);
  const std::string_view alc = input.substr(0, cut);
  const std::string_view cyp =
      cut == std::string_view::npos ? std::string_view() : input.substr(cut + kSeparator.size());
  TLoadProject reader;
  try {
    reader.LoadFromText("fuzz.alc", alc, cut == std::string_view::npos ? nullptr : &cyp);
  } catch (const ELoadProjectError&) {
    if (!reader.FPrograms.empty()) __builtin_trap();  // an error leaves no records
    return 0;
  }
  // Records must hang together: heads before their elements, socket
  // variables from the same program.
  for (const auto& program : reader.FPrograms) {
    const TLoadedVar* lastHead = nullptr;
    for (const auto& var : program->FVars) {
      if (var->FIsArrayHead) lastHead = var.get();
      if (var->FArrayHead != nullptr && var->FArrayHead != lastHead) __builtin_trap();
      if (var->FAddress < 0) __builtin_trap();
    }
    for (const auto& socket : program->FSockets) {
      for (const TLoadedVar* v : socket.FVars) {
        if (program->FindVar(v->FName) == nullptr) __builtin_trap();
      }
    }
  }
  return 0;
}

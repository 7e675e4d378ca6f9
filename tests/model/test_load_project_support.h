// Helpers for the allocation and project file reader tests.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/load_project.h"

// Loads in-memory files; returns the error text, or empty on success.
inline std::string LoadText(TLoadProject& reader, std::string_view alc,
                            std::optional<std::string_view> cyp = std::nullopt,
                            const std::string& fileName = "t.alc") {
  try {
    reader.LoadFromText(fileName, alc, cyp ? &*cyp : nullptr);
  } catch (const ELoadProjectError& e) {
    return e.what();
  }
  return {};
}

// "name@address:type" for every record, array heads marked with "*" and
// elements with the head's name after "^".
inline std::vector<std::string> Describe(const TLoadedNorvo& program) {
  std::vector<std::string> out;
  for (const auto& v : program.FVars) {
    std::string s = v->FName + "@" + std::to_string(v->FAddress) + ":" +
                    std::to_string(v->FVarType);
    if (v->FIsArrayHead) s += "*";
    if (v->FArrayHead != nullptr) s += "^" + v->FArrayHead->FName;
    out.push_back(s);
  }
  return out;
}

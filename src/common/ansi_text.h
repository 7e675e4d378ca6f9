// Single-byte Windows-1252 text (the Zelta tool's files) to and from our
// UTF-8 strings.
#pragma once

#include <string>
#include <string_view>

// Appends `ansi` to `out` as UTF-8. The five code points Windows-1252 leaves
// undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) map to the C1 controls of the same
// value, so every byte survives the round trip.
void AppendAnsiAsUtf8(std::string& out, std::string_view ansi);

std::string AnsiToUtf8(std::string_view ansi);

// Characters without a Windows-1252 byte, and malformed UTF-8, become '?'.
std::string Utf8ToAnsi(std::string_view utf8);

// Display colours in the Windows layout 0x00BBGGRR, as the tag tables and the
// project tree store them.
#pragma once

#include <cstdint>

using TColor = int32_t;

// A tag or node without a colour of its own.
inline constexpr TColor clNone = 0x1FFFFFFF;

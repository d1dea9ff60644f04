#pragma once
// Which family of the original platform the library behaves as. Linux
// behaves as the NT family (Unicode file names, the component saves files).

namespace qm {

inline bool IsWindows9598Family() { return false; }

}  // namespace qm

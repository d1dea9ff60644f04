#include "html/QuotedPrintable.h"

#include "quillmark/frame/Frame.h"

namespace qm::mdlHTML2MHT {
namespace {
constexpr char kHex[] = "0123456789ABCDEF";
constexpr std::size_t kLongLine = 80;        // longer lines (with their line end) get breaks at blanks
constexpr int kBreakCount = 40;              // the counter must be above this for such a break
constexpr std::size_t kContinuedWidth = 75;  // characters before the "=" of a soft break
constexpr std::size_t kLastWidth = 76;       // characters of a line's last piece

bool NeedsHex(unsigned char c) { return c == '=' || c < 0x20 || c > 'z'; }
bool IsLineEnd(char c) { return c == '\r' || c == '\n'; }
}  // namespace

std::string HexifyChar(unsigned char c) {
  QM_FRAME_TRY { return std::string{'=', kHex[c >> 4], kHex[c & 15]}; }
  QM_FRAME_CATCH("HTML2MHT", "Private Function HexifyChar", c);
}

std::size_t EncodeLine(std::string_view line, char* out) noexcept {
  // The line counts with its line end.
  const bool longLine = line.size() + 1 > kLongLine;
  std::size_t last = line.size();  // one past the last character that is written
  while (last > 0 && IsLineEnd(line[last - 1])) --last;
  char* o = out;
  std::size_t column = 0;
  int counter = 0;
  const auto softBreak = [&] {
    o[0] = '=';
    o[1] = '\r';
    o[2] = '\n';
    o += 3;
    column = 0;
  };
  for (std::size_t i = 0; i < last; ++i) {
    const auto c = static_cast<unsigned char>(line[i]);
    if (IsLineEnd(line[i])) continue;
    const bool hex = NeedsHex(c);
    const std::size_t width = hex ? 3 : 1;
    counter += hex ? 4 : 1;
    const bool breakAfter = longLine && (c == ' ' || c == '>') && counter > kBreakCount;
    // Only the line's last piece may reach the last column.
    const std::size_t limit = (i + 1 == last && !breakAfter) ? kLastWidth : kContinuedWidth;
    if (column + width > limit) softBreak();
    if (hex) {
      o[0] = '=';
      o[1] = kHex[c >> 4];
      o[2] = kHex[c & 15];
    } else {
      o[0] = static_cast<char>(c);
    }
    o += width;
    column += width;
    if (breakAfter) {
      softBreak();
      counter = 0;
    }
  }
  return static_cast<std::size_t>(o - out);
}

std::string ReplaceCtrlChars(std::string_view line) {
  QM_FRAME_TRY {
    std::string out(EncodedLineBound(line.size()), '\0');
    out.resize(EncodeLine(line, out.data()));
    return out;
  }
  QM_FRAME_CATCH("HTML2MHT", "Private Function ReplaceCtrlChars", line);
}

}  // namespace qm::mdlHTML2MHT

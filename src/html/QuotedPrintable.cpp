#include "html/QuotedPrintable.h"

#include "quillmark/frame/Frame.h"

namespace qm::mdlHTML2MHT {
namespace {
constexpr char kHex[] = "0123456789ABCDEF";

bool NeedsHex(unsigned char c) { return c == '=' || c < 0x20 || c > 'z'; }
}  // namespace

std::string HexifyChar(unsigned char c) {
  QM_FRAME_TRY { return std::string{'=', kHex[c >> 4], kHex[c & 15]}; }
  QM_FRAME_CATCH("HTML2MHT", "Private Function HexifyChar", c);
}

std::string ReplaceCtrlChars(std::string_view line) {
  QM_FRAME_TRY {
    // The line counts with its terminating CR.
    const bool longLine = line.size() + 1 > 80;
    std::string out;
    out.reserve(line.size() + line.size() / 8 + 8);
    int counter = 0;
    for (const char ch : line) {
      const auto c = static_cast<unsigned char>(ch);
      if (c == '\r' || c == '\n') continue;
      if (NeedsHex(c)) {
        out += HexifyChar(c);
        counter += 4;
      } else if (c == '>' || c == ' ') {
        out += ch;
        ++counter;
        if (longLine && counter > 40) {
          out += "\r\n";
          counter = 0;
        }
      } else {
        out += ch;
        ++counter;
      }
    }
    return out;
  }
  QM_FRAME_CATCH("HTML2MHT", "Private Function ReplaceCtrlChars", line);
}

}  // namespace qm::mdlHTML2MHT

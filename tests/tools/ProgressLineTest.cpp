// The progress line draws at most every interval, says how far the job has
// come, and leaves the terminal line blank when it is cleared.

#include "ProgressLine.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

using qm::cli::ProgressLine;
using Unit = ProgressLine::Unit;

TEST(ProgressLine, DrawsAtMostEveryIntervalAndClearsWhatItDrew) {
  std::ostringstream out;
  std::chrono::steady_clock::time_point now{};
  {
    ProgressLine line(out, true, "quillmark zip", Unit::Parts, [&] { return now; });
    line.Update(1, 4);
    line.Update(2, 4);  // too soon: not drawn
    now += ProgressLine::kInterval;
    line.Callback()(10, 0);  // through the library's callback; a longer line
    now += ProgressLine::kInterval;
    line.Update(3, 4);  // shorter: blanks cover the rest of the longer one
  }                     // cleared when it goes
  EXPECT_EQ(out.str(),
            "\rquillmark zip: 1 of 4 parts (25%)"
            "\rquillmark zip: 10 parts          "  // padded to the 33 characters drawn before
            "\rquillmark zip: 3 of 4 parts (75%)"
            "\r                                 \r");

  std::ostringstream hidden;
  {
    ProgressLine line(hidden, false, "quillmark zip", Unit::Parts);
    line.Update(1, 4);
    EXPECT_FALSE(line.Callback());  // the library is given no callback at all
  }
  EXPECT_EQ(hidden.str(), "");
}

TEST(ProgressLine, SaysHowFarInTheJobsUnits) {
  EXPECT_EQ(ProgressLine::Text("c", Unit::Bytes, 0, 3 << 20), "c: 0 bytes of 3.0 MiB (0%)");
  EXPECT_EQ(ProgressLine::Text("c", Unit::Bytes, 1536, 5ull << 30), "c: 1.5 KiB of 5.0 GiB (0%)");
  EXPECT_EQ(ProgressLine::Text("c", Unit::Bytes, 7, 7), "c: 7 bytes of 7 bytes (100%)");
  EXPECT_EQ(ProgressLine::Text("f", Unit::Folders, 1, 0), "f: 1 folder");
  EXPECT_EQ(ProgressLine::Text("f", Unit::Folders, 2, 0), "f: 2 folders");
  EXPECT_EQ(ProgressLine::Text("m", Unit::Parts, 9, 8), "m: 9 of 8 parts (100%)");  // never past 100%
}

}  // namespace

#include <gtest/gtest.h>

#include "graphics/RecordingSurface.h"
#include "quillmark/errors/Error.h"
#include "quillmark/graphics/Graphics.h"
#include "support/ErrorOf.h"

namespace {

using qm::Variant;
using qm::test::RecordingSurface;
using Calls = std::vector<std::string>;

Variant V(double v) { return Variant(v); }

TEST(Graphics, LinesAndBoxesRestoreTheDrawMode) {
  qm::Graphics g;
  RecordingSurface pic;
  pic.DrawMode = 4;
  g.Line2(pic, V(1), V(2), V(3), V(4), Variant(std::int32_t{255}), qm::vbInvert);
  EXPECT_EQ(pic.Calls, (Calls{"DrawMode=6", "Line(0, 1, 2, 3, 4, 255)", "DrawMode=4"}));
  EXPECT_EQ(pic.DrawMode, 4);

  pic.Calls.clear();
  g.Box(pic, V(0), V(0), V(10), V(20));
  g.BoxFill(pic, V(5), V(5), V(6), V(6), Variant(std::int32_t{7}));
  g.Circle2(pic, V(50), V(60), V(70), Variant(std::int32_t{3}));
  EXPECT_EQ(pic.Calls, (Calls{"Line(4, 0, 0, 10, 20, 0)", "DrawMode=13", "Line(12, 5, 5, 6, 6, 7)", "DrawMode=4",
                              "Circle(0, 50, 60, 70, 3)"}));

  // A surface without the member fails with the trail.
  qm::Dispatch bare;
  const qm::Error e = qm::test::RaisedBy([&] { g.Circle2(bare, V(1), V(2), V(3)); });
  EXPECT_EQ(e.Number(), 438);
  EXPECT_EQ(e.Source(), "QuillmarkLibrary.Graphics|[Graphics]Public Sub Circle2(?, ?, ?, ?, ?)");
}

TEST(Graphics, TextAlignsFillsAndMovesThePosition) {
  qm::Graphics g;
  RecordingSurface pic;  // 100 per character, 200 high
  g.Text(pic, "abcd", Variant(false), V(1000), V(100), false, qm::vbCenter);
  EXPECT_EQ(pic.Calls, Calls{"Print(\"abcd\", False) at (800, 100)"});
  EXPECT_EQ(std::pair(pic.CurrentX, pic.CurrentY), std::pair(1200.0, 100.0));  // the position after the text

  pic.Calls.clear();
  g.Text(pic, "ab", Variant(true), V(1000), V(500), true, qm::vbRightJustify);
  // The white box covers exactly the text, whose top is 200 above the given base line.
  EXPECT_EQ(pic.Calls, (Calls{"Line(15, 800, 300, 1000, 500, 16777215)", "Print(\"ab\", False) at (800, 300)"}));

  pic.Calls.clear();
  g.TextCR(pic, "xyz", Variant(false), V(40), V(60));
  EXPECT_EQ(pic.Calls, Calls{"Print(\"xyz\", True) at (40, 60)"});
  EXPECT_EQ(std::pair(pic.CurrentX, pic.CurrentY), std::pair(0.0, 260.0));  // start of the next line

  // Without x and y the text goes where the position is; an unknown alignment leaves CurrentX alone.
  pic.Calls.clear();
  g.Text(pic, "q", Variant(false), V(5000), std::nullopt, false, 7);
  EXPECT_EQ(pic.Calls, Calls{"Print(\"q\", False) at (0, 260)"});
}

TEST(Graphics, LinesAndLinesSmoothDrawTheRangeAndClampIt) {
  qm::Graphics g;
  RecordingSurface pic;
  const Variant y(qm::VariantArray::FromVector({Variant(5.0), Variant(7.0), Variant(6.0)}));
  g.Lines(pic, V(0), 10, y);
  EXPECT_EQ(pic.Calls, (Calls{"Line(0, 0, 5, 0, 5, 0)", "Line(0, 0, 5, 10, 7, 0)", "Line(0, 10, 7, 20, 6, 0)"}));

  pic.Calls.clear();
  const Variant five(qm::VariantArray::FromVector({V(1), V(2), V(3), V(4), V(5)}));
  std::optional<Variant> offset = Variant(std::int32_t{1}), length = Variant(std::int32_t{10});
  g.Lines(pic, V(0), 10, five, Variant(std::int32_t{0}), offset, length);
  EXPECT_EQ(qm::CLng(*length), 4);  // the caller's variable sees the clamped length
  EXPECT_EQ(pic.Calls, (Calls{"Line(0, 1, 2, 1, 2, 0)", "Line(0, 1, 2, 11, 3, 0)", "Line(0, 11, 3, 21, 4, 0)",
                              "Line(0, 21, 4, 31, 5, 0)"}));  // starts at Left + (Offset - lower bound)

  // Missing range values are filled in for the caller.
  std::optional<Variant> noOffset, noLength;
  g.Lines(pic, V(0), 1, five, Variant(std::int32_t{0}), noOffset, noLength);
  EXPECT_EQ(std::pair(qm::CLng(*noOffset), qm::CLng(*noLength)), std::pair(0, 5));

  pic.Calls.clear();
  g.Lines(pic, V(0), 1, Variant(qm::VariantArray()));
  g.Lines(pic, V(0), 1, V(3));
  EXPECT_TRUE(pic.Calls.empty());
  std::optional<Variant> outside = Variant(std::int32_t{9}), some = Variant(std::int32_t{1});
  EXPECT_EQ(qm::test::ErrorOf([&] { g.Lines(pic, V(0), 1, five, Variant(std::int32_t{0}), outside, some); }), 9);

  // LinesSmooth draws the spline of the range.
  pic.Calls.clear();
  const Variant smooth(qm::VariantArray::FromVector({V(0), V(3), V(1), V(4)}, 1));
  g.LinesSmooth(pic, V(100), 5, smooth, Variant(std::int32_t{9}));
  EXPECT_EQ(pic.Calls.size(), 1u + 10 * 3);
  pic.Calls.clear();
  std::optional<Variant> from = Variant(std::int32_t{2}), none = Variant(std::int32_t{0});
  g.LinesSmooth(pic, V(0), 5, smooth, Variant(std::int32_t{0}), from, none);
  g.LinesSmooth(pic, V(0), 5, Variant(qm::VariantArray()));
  EXPECT_TRUE(pic.Calls.empty());
}

TEST(Graphics, CopyPicturesAlignsTheSourceOnTheDestination) {
  qm::Graphics g;
  RecordingSurface dest(100, 80), source(30, 20);
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 30; ++x) source.Pixels().SetPixel(x, y, 0x00102030u + static_cast<std::uint32_t>(x));

  g.CopyPictures(source, dest, qm::AlignRight | qm::AlignBottom);
  EXPECT_EQ(dest.Pixels().GetPixel(70, 60), 0x00102030u);
  EXPECT_EQ(dest.Pixels().GetPixel(99, 79), 0x00102030u + 29);
  EXPECT_EQ(dest.Pixels().GetPixel(69, 79), 0u);
  EXPECT_EQ(dest.Pixels().GetPixel(99, 59), 0u);

  RecordingSurface small(10, 10);
  g.CopyPictures(source, small, qm::AlignTopLeft);  // clipped to the destination
  EXPECT_EQ(small.Pixels().GetPixel(9, 9), 0x00102030u + 9);
  RecordingSurface corner(10, 10);
  g.CopyPictures(source, corner, qm::AlignRight);  // negative offset: the source's right part shows
  EXPECT_EQ(corner.Pixels().GetPixel(0, 0), 0x00102030u + 20);
}

}  // namespace

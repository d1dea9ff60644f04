#include <fcntl.h>
#include <gif_lib.h>
#include <gsl/gsl_spline.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <array>
#include <cmath>
#include <map>

#include "PictureFiles.h"
#include "quillmark/graphics/DIBSection.h"
#include "quillmark/graphics/Graphics.h"
#include "quillmark/graphics/IJL.h"
#include "quillmark/graphics/Interpolate.h"
#include "quillmark/graphics/Spline.h"
#include "quillmark/values/Conversions.h"
#include "support/ErrorTrail.h"

namespace qm::test {

// A picture surface for the tests: it keeps the properties it is given (the
// position, the draw mode) as a real surface does, has a size in twips and
// hdc on a pixel buffer, measures 100 twips a character and 200 a line, and
// records as text each DrawMode it is given and each call: a Line with its
// end points made absolute (the position moves to the second), a Print with
// the position it starts at.
class RecordingSurface : public Dispatch {
 public:
  explicit RecordingSurface(std::int32_t widthPixels = 100, std::int32_t heightPixels = 80)
      : Pixels(std::make_shared<Bitmap>(widthPixels, heightPixels)) {
    Properties = {{"Width", widthPixels * 15.0},
                  {"Height", heightPixels * 15.0},
                  {"hdc", std::make_shared<DeviceContext>(Pixels)}};
  }

  std::shared_ptr<Bitmap> Pixels;
  std::map<std::string, Variant, std::less<>> Properties;
  std::vector<std::string> Calls;  // "DrawMode=6", "Line(0, 1, 2, 3, 4, 255)", "Print(ab, False) at (800, 300)"

 protected:
  Variant GetMember(std::string_view name, std::vector<Variant>& args) override {
    const auto it = Properties.find(name);
    return it == Properties.end() ? Dispatch::GetMember(name, args) : it->second;
  }
  void LetMember(std::string_view name, const Variant& value, std::vector<Variant>&) override {
    if (name == "DrawMode") Calls.push_back("DrawMode=" + CStr(value));
    Properties[std::string(name)] = value;
  }
  Variant CallMember(std::string_view name, std::vector<Variant>& args) override {
    if (name == "TextWidth") return 100.0 * static_cast<double>(CStr(args.at(0)).size());
    if (name == "TextHeight") return 200.0;
    Variant &x = Properties["CurrentX"], &y = Properties["CurrentY"];
    const std::string at = name == "Print" ? " at (" + CStr(x) + ", " + CStr(y) + ")" : "";
    if (name == "Line") {
      if (CLng(args[0]) & LineStepFirst) args[1] = args[1] + x, args[2] = args[2] + y;
      if (CLng(args[0]) & LineStepSecond) args[3] = args[3] + args[1], args[4] = args[4] + args[2];
      x = args[3], y = args[4];
    }
    std::string call = std::string(name) + "(";
    for (std::size_t i = 0; i < args.size(); ++i) call += (i ? ", " : "") + CStr(args[i]);
    Calls.push_back(call + ")" + at);
    return {};
  }
};

}  // namespace qm::test

namespace {

using namespace qm;
using namespace qm::test;
using Calls = std::vector<std::string>;

Variant Samples(std::vector<double> values, std::int32_t lower = 0) {
  return VariantArray::FromVector(std::vector<Variant>(values.begin(), values.end()), lower);
}

std::vector<double> Values(const Variant& result) {
  std::vector<double> out;
  for (const auto& v : result.Array().Data()) out.push_back(CDbl(v));
  return out;
}

std::shared_ptr<Picture> Load(const std::string& bytes) {
  return LoadPictureFromMemory({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()});
}

// "number: description" of what loading the bytes raises.
std::string LoadError(const std::string& bytes) {
  return Described([&] { Load(bytes); });
}

// Red, green, blue of the pixel at (x, y), counted from the top left.
std::vector<int> RgbAt(const Picture& picture, int x, int y) {
  const std::uint8_t* p = picture.Handle()->Row(y) + 3 * x;
  return {p[2], p[1], p[0]};
}

TEST(Graphics, DrawsThroughTheSurfacesMembersAndRestoresItsDrawMode) {
  Graphics g;
  RecordingSurface pic;
  pic.Properties["DrawMode"] = 4;
  g.Line2(pic, 1.0, 2.0, 3.0, 4.0, 255, vbInvert);
  g.Box(pic, 0.0, 0.0, 10.0, 20.0);
  g.BoxFill(pic, 5.0, 5.0, 6.0, 6.0, 7);
  g.Circle2(pic, 50.0, 60.0, 70.0, 3);
  // Text centred on x; right-justified with y its base line and a white box
  // behind that covers exactly the text; with a line break; without y at the
  // position, which an unknown alignment leaves as it is.
  g.Text(pic, "abcd", false, 1000.0, 100.0, false, vbCenter);
  g.Text(pic, "ab", true, 1000.0, 500.0, true, vbRightJustify);
  g.TextCR(pic, "xyz", false, 40.0, 60.0);
  g.Text(pic, "q", false, 5000.0, std::nullopt, false, 7);
  EXPECT_EQ(pic.Calls,
            (Calls{"DrawMode=6", "Line(0, 1, 2, 3, 4, 255)", "DrawMode=4", "Line(4, 0, 0, 10, 20, 0)", "DrawMode=13",
                   "Line(12, 5, 5, 6, 6, 7)", "DrawMode=4", "Circle(0, 50, 60, 70, 3)",
                   "Print(abcd, False) at (800, 100)", "Line(15, 800, 300, 1000, 500, 16777215)",
                   "Print(ab, False) at (800, 300)", "Print(xyz, True) at (40, 60)", "Print(q, False) at (40, 60)"}));

  // A surface without the member fails with the trail.
  Dispatch bare;
  EXPECT_EQ(Trail([&] { g.Circle2(bare, 1.0, 2.0, 3.0); }),
            "438: Object doesn't support this property or method @ QuillmarkLibrary.Graphics|[Graphics]Public Sub "
            "Circle2(?, ?, ?, ?, ?)");

  // Lines draws the range of its values: the second range starts at Left +
  // (Offset - lower bound) and is clamped, which the caller's variable sees;
  // no array or an empty one draws nothing.
  pic.Calls.clear();
  const Variant five = Samples({1, 2, 3, 4, 5});
  std::optional<Variant> offset = 1, length = 10, noOffset, noLength, outside = 9, some = 1;
  g.Lines(pic, 0.0, 10, Samples({5, 7, 6}));
  g.Lines(pic, 0.0, 10, five, 0, offset, length);
  g.Lines(pic, 0.0, 1, VariantArray());
  g.Lines(pic, 0.0, 1, 3.0);
  EXPECT_EQ(pic.Calls, (Calls{"Line(0, 0, 5, 0, 5, 0)", "Line(0, 0, 5, 10, 7, 0)", "Line(0, 10, 7, 20, 6, 0)",
                              "Line(0, 1, 2, 1, 2, 0)", "Line(0, 1, 2, 11, 3, 0)", "Line(0, 11, 3, 21, 4, 0)",
                              "Line(0, 21, 4, 31, 5, 0)"}));
  // Missing range values are filled in for the caller.
  g.Lines(pic, 0.0, 1, five, 0, noOffset, noLength);
  EXPECT_EQ(std::tuple(CLng(*length), CLng(*noOffset), CLng(*noLength)), std::tuple(4, 0, 5));
  EXPECT_EQ(ErrorOf([&] { g.Lines(pic, 0.0, 1, five, 0, outside, some); }), 9);

  // LinesSmooth draws the spline of the range (DrawCurve's): nothing for no
  // range, a point for one sample, else ten pieces an interval through the
  // samples. DrawCurve draws nothing for no samples.
  const Variant smooth = Samples({7, 0, 1, 0, 2}, 1);
  std::optional<Variant> from = 2, none = 0, first = 1, one = 1, second = 2, rest;
  Variant color = 255, empty = VariantArray(), tooMany = VariantArray({{0, 32767}}), values = Samples({0, 1, 0, 2});
  pic.Calls.clear();
  g.LinesSmooth(pic, 0.0, 5, smooth, 0, from, none);
  g.LinesSmooth(pic, 0.0, 5, VariantArray());
  g.LinesSmooth(pic, 3.0, 10, smooth, 255, first, one);
  g.LinesSmooth(pic, 100.0, 10, smooth, 255, second, rest);
  mdlSpline::DrawCurve(pic, 0.0, 1.0, empty, color);
  ASSERT_EQ(pic.Calls.size(), 2u + 10 * 3);
  EXPECT_EQ((Calls{pic.Calls[0], pic.Calls[1]}), (Calls{"Line(0, 3, 7, 3, 7, 255)", "Line(0, 100, 0, 100, 0, 255)"}));
  EXPECT_TRUE(pic.Calls[11].ends_with(", 110, 1, 255)") && pic.Calls.back().ends_with(", 130, 2, 255)"))
      << pic.Calls[11] << ", " << pic.Calls.back();

  // Too many samples are refused, and a surface without Line fails with the trail.
  EXPECT_EQ(ErrorOf([&] { mdlSpline::DrawCurve(pic, 0.0, 1.0, tooMany, color); }), 6);
  EXPECT_EQ(Trail([&] { mdlSpline::DrawCurve(bare, 0.0, 1.0, values, color); }),
            "438: Object doesn't support this property or method @ QuillmarkLibrary|[Spline]Public Sub DrawCurve(?, ?, "
            "?, ?, ?)");
}

TEST(Interpolate, AgreesWithAnIndependentNaturalSplineAndTheKnownSmallCasesAndRefusesBadInput) {
  Interpolate interp;
  // Samples, precision, cubic and linear results: with two samples the
  // spline is the straight line, one sample gives a one-element array, and
  // precision 0 the first sample (cubic) or the last one (linear).
  const std::tuple<std::vector<double>, std::int16_t, std::vector<double>, std::vector<double>> cases[] = {
      {{0, 1, 0}, 2, {0, 0.6875, 1, 0.6875, 0}, {0, 0.5, 1, 0.5, 0}},
      {{0, 10}, 4, {0, 2.5, 5, 7.5, 10}, {0, 2.5, 5, 7.5, 10}},
      {{7}, 4, {7}, {7}},
      {{4, 5, 6}, 0, {4}, {6}}};
  for (const auto& [in, precision, cub, lin] : cases) {
    auto samples = Samples(in, 5);
    const Variant c = interp.InterpCub(samples, precision), l = interp.InterpLin(samples, precision);
    // The lower bound is kept.
    EXPECT_EQ(std::tuple(Values(c), Values(l), c.Array().LBound(), l.Array().LBound()), std::tuple(cub, lin, 5, 5));
  }
  // No samples: Empty for both.
  Variant none = VariantArray();
  EXPECT_TRUE(interp.InterpCub(none, 4).IsEmpty() && interp.InterpLin(none, 4).IsEmpty());
  // Precision 1: a copy, as Doubles for the spline; the linear copy keeps the samples' own type.
  Variant ints = VariantArray::FromVector({std::int16_t{2}, std::int16_t{9}});
  const Variant copy = interp.InterpCub(ints, 1), linear = interp.InterpLin(ints, 1);
  EXPECT_EQ(std::tuple(Values(copy), copy.Array().Data()[0].VarType(), linear.Array().Data()[1].VarType()),
            std::tuple(std::vector<double>{2, 9}, vbDouble, vbInteger));

  Variant notArray(3.0), text = VariantArray::FromVector({1.0, "abc", 2.0}), two = Samples({1, 2});
  EXPECT_EQ(
      Trail([&] { interp.InterpCub(notArray, 2); }),
      "9999: InArray must be an array @ QuillmarkLibrary.Interpolate|[Interpolate]Public Function InterpCub(?, 2)");
  // Counts beyond the 16-bit range are refused rather than wrapped.
  Variant many = VariantArray({{0, 32767}}), most = VariantArray({{0, 32766}});
  for (auto& v : most.Array().Data()) v = 1.0;
  EXPECT_EQ(Trail([&] { interp.InterpCub(many, 1); }),
            "6: Overflow: InArray holds more than 32767 samples @ QuillmarkLibrary.Interpolate|[Interpolate]Public "
            "Function InterpCub(?, 1)");
  // Text among the samples, a negative precision, more than 32767 samples out.
  EXPECT_EQ((std::vector{ErrorOf([&] { interp.InterpCub(text, 2); }), ErrorOf([&] { interp.InterpLin(text, 2); }),
                         ErrorOf([&] { interp.InterpCub(two, -1); }), ErrorOf([&] { interp.InterpLin(most, 32767); })}),
            (std::vector{13, 13, 9, 6}));
  // Output indices are 32-bit: 32767 samples at precision 2 pass 32767 and work.
  EXPECT_EQ(interp.InterpCub(most, 2).Array().UBound(), 65532);

  // Against GSL's natural cubic spline, through 40 samples.
  std::vector<double> x(40), y(40);
  for (std::size_t i = 0; i < x.size(); ++i) x[i] = static_cast<double>(i), y[i] = std::sin(x[i] * 0.7) * 50 + x[i];
  gsl_spline* spline = gsl_spline_alloc(gsl_interp_cspline, y.size());
  gsl_spline_init(spline, x.data(), y.data(), y.size());

  auto samples = Samples(y, 3);
  const auto ours = Values(Interpolate().InterpCub(samples, 7));
  ASSERT_EQ(ours.size(), 39u * 7 + 1);
  for (std::size_t k = 0; k < ours.size(); ++k) {
    const double at = static_cast<double>(k) / 7;
    EXPECT_NEAR(ours[k], gsl_spline_eval(spline, at, nullptr), 1e-9) << "at " << at;
    EXPECT_TRUE(k % 7 != 0 || ours[k] == y[k / 7]) << "at " << at;  // knots hit the samples exactly
  }
  gsl_spline_free(spline);
}

TEST(DIBSection, RowsArePaddedBottomUpAndReleasedOnReCreate) {
  clsDIBSection dib;
  for (const auto& [w, pitch] : {std::pair{1, 4}, {4, 12}, {5, 16}}) {
    ASSERT_TRUE(dib.Create(w, 3));
    EXPECT_EQ(std::pair(dib.BytesPerScanLine(), dib.Header().biSizeImage), std::pair(pitch, 3u * pitch)) << w;
  }
  std::weak_ptr<Bitmap> first = dib.hDC()->SelectedBitmap();
  ASSERT_TRUE(dib.Create(7, 7));
  EXPECT_TRUE(first.expired());  // the first bitmap is gone before the second exists
  EXPECT_EQ(dib.hDC()->SelectedBitmap()->Bits(), dib.DIBSectionBitsPtr());
  // No pixels leave no bits; more than the pixel memory allowed is refused.
  EXPECT_FALSE(dib.Create(0, 5) || dib.DIBSectionBitsPtr() || dib.Create(100000, 100000));
  dib.ClearUp();
  EXPECT_EQ(dib.hDC(), nullptr);

  // From a picture: its rows bottom-up, blue-green-red and padded, as a BMP
  // file holds them.
  const std::string bmp = BmpFile(TestPicture(13, 7));
  dib.CreateFromPicture(*Load(bmp));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(dib.DIBSectionBitsPtr()), dib.Header().biSizeImage),
            bmp.substr(54));
}

TEST(DeviceContext, BitBltClipsAndHandlesOverlapAndCopyPicturesAlignsTheSourceWithIt) {
  auto bitmap = std::make_shared<Bitmap>(4, 3);
  DeviceContext dc(bitmap), empty;
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 4; ++x) bitmap->SetPixel(x, y, static_cast<std::uint32_t>(10 * y + x));
  // The top row is the last one in memory (bottom-up), in blue-green-red order.
  EXPECT_EQ(bitmap->Bits()[2 * 12 + 2 * 3 + 2], 2);
  EXPECT_EQ(bitmap->GetPixel(4, 0), 0xFFFFFFFFu);
  // Overlapping move one row down within the same bitmap.
  ASSERT_TRUE(BitBlt(dc, 0, 1, 4, 3, dc, 0, 0, SRCCOPY));
  EXPECT_EQ((std::vector{bitmap->GetPixel(3, 2), bitmap->GetPixel(3, 1), bitmap->GetPixel(3, 0)}),
            (std::vector{13u, 3u, 3u}));
  EXPECT_FALSE(BitBlt(empty, 0, 0, 1, 1, dc, 0, 0, SRCCOPY) || BitBlt(dc, 0, 0, 1, 1, dc, 0, 0, 0x00EE0086));
  // Far outside and huge sizes copy nothing and overflow nothing.
  EXPECT_TRUE(BitBlt(dc, INT32_MIN, INT32_MAX, INT32_MAX, INT32_MAX, dc, INT32_MAX, INT32_MIN, SRCCOPY));

  // Graphics.CopyPictures copies a surface's whole picture onto another,
  // aligned as asked.
  Graphics g;
  RecordingSurface dest(100, 80), source(30, 20), small(10, 10), corner(10, 10);
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 30; ++x) source.Pixels->SetPixel(x, y, 0x00102030u + static_cast<std::uint32_t>(x));
  g.CopyPictures(source, dest, AlignRight | AlignBottom);
  g.CopyPictures(source, small, AlignTopLeft);  // clipped to the destination
  g.CopyPictures(source, corner, AlignRight);   // negative offset: the source's right part shows
  const Bitmap& d = *dest.Pixels;
  EXPECT_EQ((std::vector{d.GetPixel(70, 60), d.GetPixel(99, 79), d.GetPixel(69, 79), d.GetPixel(99, 59),
                         small.Pixels->GetPixel(9, 9), corner.Pixels->GetPixel(0, 0)}),
            (std::vector{0x00102030u, 0x00102030u + 29, 0u, 0u, 0x00102030u + 9, 0x00102030u + 20}));
}

TEST(SaveAsJPG, WritesAJpegAnotherDecoderReadsBackKeepsAReplacedFilesModeAndTimesAndNamesWhatFailed) {
  ScratchDir dir;
  Graphics g;
  for (const auto& [w, h] : {std::pair{96, 64}, std::pair{1, 16}, std::pair{5, 9}}) {
    const auto image = TestPicture(w, h);
    WriteFile(dir / "in.bmp", BmpFile(image));
    g.SaveAsJPG(dir / "in.bmp", dir / "out.jpg");
    const RgbImage decoded = DecodeWithDjpeg(dir / "out.jpg");
    ASSERT_EQ(std::pair(decoded.Width, decoded.Height), std::pair(w, h));
    // Near the picture, so the right way up: the peak signal-to-noise ratio
    // in dB (no difference at all gives a large finite figure). The goal
    // holds for a picture of some size; the narrow ones (whose rows carry pad
    // bytes) vary too fast per pixel for 4:2:0 chroma.
    double sum = 1e-9;
    for (std::size_t i = 0; i < image.Pixels.size(); ++i) sum += std::pow(image.Pixels[i] - decoded.Pixels[i], 2);
    EXPECT_GE(10 * std::log10(255.0 * 255.0 * static_cast<double>(image.Pixels.size()) / sum), w > 8 ? 35.0 : 25.0)
        << w << "x" << h;
  }

  // A replaced file (in.bmp is the last picture above).
  const std::string out = dir / "old.jpg";
  WriteFile(out, "previous contents");
  const timespec times[2] = {{1000000000, 123456789}, {1100000000, 987654321}};
  ASSERT_EQ(::utimensat(AT_FDCWD, out.c_str(), times, 0), 0);
  ASSERT_EQ(::chmod(out.c_str(), 0444), 0);
  g.SaveAsJPG(dir / "in.bmp", out);
  struct stat after {};
  ASSERT_EQ(::stat(out.c_str(), &after), 0);
  EXPECT_EQ((std::vector<long>{after.st_mode & 07777, after.st_atim.tv_sec, after.st_atim.tv_nsec, after.st_mtim.tv_sec,
                               after.st_mtim.tv_nsec}),
            (std::vector<long>{0444, 1000000000, 123456789, 1100000000, 987654321}));
  EXPECT_EQ(ReadFile(out).substr(0, 2), "\xFF\xD8");

  // A new file gets what the platform gives it; no temporary file is left behind.
  const mode_t mask = ::umask(022);
  ::umask(mask);
  g.SaveAsJPG(dir / "in.bmp", dir / "new.jpg");
  ASSERT_EQ(::stat((dir / "new.jpg").c_str(), &after), 0);
  EXPECT_EQ(after.st_mode & 0777, 0666u & ~mask);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 4);  // with out.jpg

  WriteFile(dir / "notes.txt", "no picture");
  EXPECT_EQ(Trail([&] { g.SaveAsJPG(dir / "notes.txt", dir / "x.jpg"); }),
            "481: Invalid picture: not a BMP, GIF, JPEG or PNG file @ QuillmarkLibrary.Graphics|[Graphics]Public Sub "
            "SaveAsJPG(\"" +
                (dir / "notes.txt") + "\", \"" + (dir / "x.jpg") + "\")");

  const std::string unwritable = dir / "no-such-folder/x.jpg";
  EXPECT_EQ(Trail([&] { g.SaveAsJPG(dir / "in.bmp", unwritable); }),
            "26001: Failed to save to JPG " + std::to_string(ijl::IJL_FILE_ERROR) +
                " @ Lib.mIntelJPEGLibrary|[IJL]Public Function SaveJPG(?, \"" + unwritable +
                "\", 90)|[Graphics]Public Sub SaveAsJPG(\"" + (dir / "in.bmp") + "\", \"" + unwritable + "\")");

  // An empty DIB (a picture whose size could not be had) fails in the writer.
  clsDIBSection empty, dib;
  EXPECT_EQ(Described([&] { mdlIntelJPEGLibrary::SaveJPG(empty, dir / "e.jpg", 90); }),
            "26001: Failed to save to JPG " + std::to_string(ijl::IJL_INVALID_JPEG_PROPERTIES));

  // A failed write leaves the file it would have replaced as it was.
  ASSERT_TRUE(dib.Create(4, 4));
  WriteFile(dir / "keep.jpg", "keep me");
  EXPECT_EQ(ErrorOf([&] { mdlIntelJPEGLibrary::SaveJPG(dib, dir / "keep.jpg", 0); }), 26001);
  EXPECT_EQ(ReadFile(dir / "keep.jpg"), "keep me");
  EXPECT_TRUE(mdlIntelJPEGLibrary::SaveJPG(dib, dir / "keep.jpg", 100));
}

// Every shorter prefix of a file either loads or is refused with 481.
void EveryPrefixLoadsOrIsRefused(const std::string& file, const char* what) {
  for (std::size_t n = 1; n < file.size(); ++n) {
    const std::string error = LoadError(file.substr(0, n));
    EXPECT_TRUE(error.starts_with("0: ") || error.starts_with("481: ")) << what << " cut at " << n << ": " << error;
  }
}

TEST(PictureLoader, ReadsBmpFilesOfEveryDepthAndBothRowOrdersAndRefusesBadHeaders) {
  const RgbImage image = TestPicture(7, 5);
  // 24 bits, bottom-up and top-down, give the same picture.
  for (const bool topDown : {false, true}) EXPECT_EQ(PixelsOf(*Load(BmpFile(image, topDown))), image) << topDown;

  // Palettes of 1, 4 and 8 bits (rows padded to 4 bytes): entries blue,
  // green, red, 0. Index 3 lies beyond the 2-entry table of the 8-bit file
  // and is black.
  const std::string palette = Le({0x302010, 0x605040});
  const std::vector first{0x30, 0x20, 0x10}, second{0x60, 0x50, 0x40};
  const auto bits1 = Load(BmpFile(9, 2, 1, Le({0x8080, 0}), palette)),
             bits4 = Load(BmpFile(3, -1, 4, Le({0x1001}), palette)),
             bits8 = Load(BmpFile(2, 1, 8, Le({0x0301}), palette));
  EXPECT_EQ((std::vector{RgbAt(*bits1, 8, 1), RgbAt(*bits1, 1, 1), RgbAt(*bits1, 0, 0), RgbAt(*bits4, 1, 0),
                         RgbAt(*bits4, 2, 0), RgbAt(*bits8, 0, 0), RgbAt(*bits8, 1, 0)}),
            (std::vector{second, first, first, second, second, second, std::vector{0, 0, 0}}));

  // 16 bits: 5-5-5 by default, 5-6-5 with masks; 32 bits with masks in any order.
  const std::pair<std::string, std::vector<std::uint8_t>> masked[] = {
      {BmpFile(2, 1, 16, Le({0x7FFF, 0x0421}, 2)), {255, 255, 255, 8, 8, 8}},
      {BmpFile(1, 1, 16, Le({0xF800 | 0x20 << 5 | 0x01}), Le({0xF800, 0x07E0, 0x001F}), 3), {255, 130, 8}},
      {BmpFile(1, 1, 32, Le({0x00332211}), Le({0xFF, 0xFF00, 0xFF0000}), 3), {0x11, 0x22, 0x33}}};
  for (const auto& [file, rgb] : masked) EXPECT_EQ(PixelsOf(*Load(file)).Pixels, rgb) << file.size();

  const std::string good = BmpFile(TestPicture(4, 3)), big = "the picture is larger than 64 megapixels";
  // Where a field is, its new value and size, and the error.
  const std::tuple<std::size_t, std::uint32_t, int, std::string> cases[] = {
      {14, 20, 4, "BMP header of unknown size 20"},
      {26, 0, 2, "bad BMP: 0 planes"},
      {28, 7, 2, "BMP with 7 bits per pixel"},
      {30, 1, 4, "BMP compression 1 is not supported"},
      {30, 3, 4, "BMP colour masks need 16 or 32 bits per pixel"},
      {10, 1u << 30, 4, "bad BMP pixel offset"},
      {18, 0, 4, "the picture has no pixels"},
      {22, 0x80000000u, 4, big},
      {18, 0x7FFFFFFFu, 4, big}};
  for (const auto& [at, value, bytes, error] : cases)
    EXPECT_EQ(LoadError(std::string(good).replace(at, bytes, Le({value}, bytes))), "481: Invalid picture: " + error);
  EXPECT_EQ(LoadError(BmpFile(1, 1, 8, Le({0}))), "481: Invalid picture: the BMP colour table is missing");
  // Masks that are not one run of bits.
  EXPECT_EQ(LoadError(BmpFile(1, 1, 16, Le({0}), Le({0x0F0F, 0x00F0, 0x0001}), 3)),
            "481: Invalid picture: bad BMP colour masks");

  // A file cut short in its pixels is refused from memory and from a file alike.
  const std::string cut = good.substr(0, good.size() - 1);
  EXPECT_EQ(LoadError(cut), "481: Invalid picture: the file ended before its last row of pixels");
  // So are the files' own problems: an empty file, none, a folder (the
  // scratch folder itself).
  ScratchDir dir;
  WriteFile(dir / "cut.bmp", cut);
  WriteFile(dir / "empty.bmp", "");
  for (const auto& [name, says] : std::vector<std::pair<std::string, std::string>>{
           {"cut.bmp", "481: Invalid picture: the file ended before its last row of pixels"},
           {"empty.bmp", "481: Invalid picture: the file is empty"},
           {"missing.png", "53: File not found"},
           {"", "75: Path/File access error"}})
    EXPECT_EQ(Described([&, &name = name] { LoadPicture(dir / name); }), says) << name;
  EveryPrefixLoadsOrIsRefused(BmpFile(TestPicture(3, 2), true), "top-down BMP");
}

TEST(PictureLoader, JpegDecodesLikeDjpegAndBrokenHuffmanTablesAreRefused) {
  ScratchDir dir;
  WriteFile(dir / "in.bmp", BmpFile(TestPicture(37, 23)));
  for (const std::string options : {"-quality 90", "-progressive", "-grayscale", "-sample 1x1 -optimize"}) {
    Output("cjpeg " + options + " '" + (dir / "in.bmp") + "' > '" + (dir / "p.jpg") + "'");
    const RgbImage reference = DecodeWithDjpeg(dir / "p.jpg");
    ASSERT_EQ(reference.Width, 37) << options;
    EXPECT_EQ(PixelsOf(*LoadPicture(dir / "p.jpg")), reference) << options;
  }
  // Adobe CMYK (here YCCK, as TurboJPEG writes it) is multiplied by K: ink 200, 100, 50 at K 128.
  const auto cmyk = LoadPicture((SourceDir() / "fuzz/corpus/picture/cmyk.jpg").string());
  for (int c = 0; c < 3; ++c) EXPECT_NEAR(RgbAt(*cmyk, 5, 5)[c], (std::vector{100, 50, 25})[c], 2);

  // Cut inside its pixel data, the picture keeps its size (the rest is filled in).
  const std::string jpeg = ReadFile(dir / "p.jpg");
  EXPECT_EQ(Load(jpeg.substr(0, jpeg.size() * 3 / 4))->Width(), 37);
  EveryPrefixLoadsOrIsRefused(jpeg, "JPEG");

  // An 8 x 8 grey picture with one Huffman table segment for DC and AC.
  auto segment = [](int marker, const std::string& body) {
    return std::string{'\xFF', static_cast<char>(marker), static_cast<char>((body.size() + 2) >> 8),
                       static_cast<char>(body.size() + 2)} +
           body;
  };
  auto picture = [&](const std::string& counts, const std::string& symbols, const std::string& data) {
    const std::string dht = std::string(1, '\0') + counts + symbols + std::string(1, '\x10') + counts + symbols;
    return "\xFF\xD8" + segment(0xDB, std::string(1, '\0') + std::string(64, '\1')) +
           segment(0xC0, std::string("\x08\x00\x08\x00\x08\x01\x01\x11\x00", 9)) + segment(0xC4, dht) +
           segment(0xDA, std::string("\x01\x01\x00\x00\x3F\x00", 6)) + data + "\xFF\xD9";
  };
  const std::string oneCode = std::string(1, '\1') + std::string(15, '\0');
  EXPECT_EQ(PixelsOf(*Load(picture(oneCode, std::string(1, '\0'), "\x3F"))).Pixels,
            std::vector<std::uint8_t>(192, 128));
  // Three codes of length 1, and more than 256 codes: refused, nothing written out of bounds.
  const std::string bogus = "481: Invalid picture: Bogus Huffman table definition";
  EXPECT_EQ(LoadError(picture(std::string(1, '\3') + std::string(15, '\0'), std::string(3, '\0'), "\x3F")), bogus);
  EXPECT_EQ(LoadError(picture(std::string(14, '\0') + "\xFF\xFF", std::string(510, '\0'), "\x3F")), bogus);
  // Data that matches no code of an incomplete table: the decoder works around it.
  EXPECT_EQ(Load(picture(oneCode, std::string(1, '\0'), std::string("\xFF\x00\xFF\x00", 4)))->Height(), 8);
}

// A one-frame GIF written with giflib: a width x height screen of colour
// `background`, the frame at `at` with its rows in file order and colour 1
// transparent when `transparent`.
std::string WriteGif(const std::string& path, int width, int height, int background, GifColorType (&&colours)[4],
                     std::array<int, 4> at, bool interlaced, bool transparent, std::vector<GifPixelType> pixels) {
  int error = 0;
  GifFileType* gif = EGifOpenFileName(path.c_str(), false, &error);
  ColorMapObject* map = GifMakeMapObject(4, colours);
  EGifSetGifVersion(gif, true);
  EGifPutScreenDesc(gif, width, height, 2, background, map);
  const GifByteType control[4] = {0x01, 0, 0, 1};
  if (transparent) EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, control);
  EGifPutImageDesc(gif, at[0], at[1], at[2], at[3], interlaced, nullptr);
  for (std::size_t i = 0; i < pixels.size(); i += static_cast<std::size_t>(at[2])) EGifPutLine(gif, &pixels[i], at[2]);
  EGifCloseFile(gif, &error);
  GifFreeMapObject(map);
  return ReadFile(path);
}

TEST(PictureLoader, PngOfEveryColourTypeAndGifsFirstFrameOnItsBackgroundBecomeBlueGreenRedWithoutAlpha) {
  ScratchDir dir;
  const RgbImage image = TestPicture(9, 4);
  ASSERT_TRUE(WritePng(dir / "rgb.png", 9, 4, PNG_FORMAT_RGB, image.Pixels));
  EXPECT_EQ(PixelsOf(*LoadPicture(dir / "rgb.png")), image);

  // Two pixels each: transparency dropped with the colour kept, 16-bit samples
  // (little-endian in memory) keeping their high byte.
  const png_color colours[] = {{1, 2, 3}, {4, 5, 6}};
  const std::tuple<png_uint_32, std::vector<std::uint8_t>, std::vector<std::uint8_t>> cases[] = {
      {PNG_FORMAT_RGBA, {10, 20, 30, 0, 40, 50, 60, 128}, {10, 20, 30, 40, 50, 60}},
      {PNG_FORMAT_GRAY, {7, 200}, {7, 7, 7, 200, 200, 200}},
      {PNG_FORMAT_RGB_COLORMAP, {1, 0}, {4, 5, 6, 1, 2, 3}},
      {PNG_FORMAT_LINEAR_Y, {0xCD, 0xAB, 0x34, 0x12}, {0xAB, 0xAB, 0xAB, 0x12, 0x12, 0x12}}};
  for (const auto& [format, in, out] : cases) {
    ASSERT_TRUE(WritePng(dir / "c.png", 2, 1, format, in, colours, 2));
    EXPECT_EQ(PixelsOf(*LoadPicture(dir / "c.png")).Pixels, out) << format;
  }

  const std::string png = ReadFile(dir / "rgb.png");
  EXPECT_EQ(LoadError(png.substr(0, png.size() - 20)), "481: Invalid picture: the file ended early");
  EveryPrefixLoadsOrIsRefused(png, "PNG");
  // The width field says 1,000,000 pixels, the height 1,000.
  EXPECT_EQ(LoadError(std::string(png).replace(16, 8, std::string("\x00\x0F\x42\x40\x00\x00\x03\xE8", 8))),
            "481: Invalid picture: the picture is larger than 64 megapixels");

  // A 4 x 3 screen of blue with a 2 x 2 frame at (1, 1): background blue
  // outside the frame, the transparent pixel (2, 1) black.
  const std::string gif = WriteGif(dir / "t.gif", 4, 3, 2, {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {9, 9, 9}},
                                   {1, 1, 2, 2}, false, true, {0, 1, 3, 0});
  // Rows: blue x 4; blue, red, black, blue; blue, grey, red, blue.
  EXPECT_EQ(PixelsOf(*LoadPicture(dir / "t.gif")),
            (RgbImage{4, 3, {0, 0, 255, 0, 0, 255, 0, 0, 255, 0, 0, 255, 0,   0, 255, 255, 0, 0,
                             0, 0, 0,   0, 0, 255, 0, 0, 255, 9, 9, 9,   255, 0, 0,   0,   0, 255}}));
  EveryPrefixLoadsOrIsRefused(gif, "GIF");

  // Interlaced rows are put back in order: row y of a 1 x 10 frame has colour y % 4.
  WriteGif(dir / "i.gif", 1, 10, 0, {{10, 0, 0}, {20, 0, 0}, {30, 0, 0}, {40, 0, 0}}, {0, 0, 1, 10}, true, false,
           {0, 0, 0, 2, 2, 1, 3, 1, 3, 1});  // rows 0, 8, 4, 2, 6, 1, 3, 5, 7, 9
  auto interlaced = LoadPicture(dir / "i.gif");
  for (int y = 0; y < 10; ++y) EXPECT_EQ(RgbAt(*interlaced, 0, y)[0], 10 * (y % 4 + 1)) << y;

  // The frame's left edge moved to 3: it no longer fits the screen.
  EXPECT_EQ(LoadError(std::string(gif).replace(gif.find('\x2C') + 1, 1, "\3")),
            "481: Invalid picture: the GIF frame lies outside the picture");
  EXPECT_EQ(LoadError("GIF89a"), "481: Invalid picture: " + std::string(GifErrorString(D_GIF_ERR_NO_SCRN_DSCR)));
  EXPECT_EQ(LoadError("\x89PNG\r\n\x1A\n"), "481: Invalid picture: the file ended early");
  EXPECT_EQ(LoadError("P6\n1 1\n255\nabc"), "481: Invalid picture: not a BMP, GIF, JPEG or PNG file");
}

}  // namespace

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>

#include "graphics/ImageFiles.h"
#include "quillmark/frame/Error.h"
#include "quillmark/graphics/DIBSection.h"
#include "quillmark/graphics/Graphics.h"
#include "quillmark/graphics/IJL.h"
#include "support/ErrorOf.h"
#include "support/TestEnvironment.h"

namespace {

using qm::test::RaisedBy;

TEST(SaveAsJPG, WritesAJpegThatAnotherDecoderReadsBackAndAReplacedFileKeepsItsModeAndTimes) {
  qm::test::ScratchDir dir;
  qm::Graphics g;
  for (const auto& [w, h] : {std::pair{96, 64}, std::pair{1, 16}, std::pair{5, 9}}) {
    const auto image = qm::test::TestPicture(w, h);
    qm::test::WriteBmp(dir / "in.bmp", image);
    g.SaveAsJPG(dir / "in.bmp", dir / "out.jpg");
    qm::test::RgbImage decoded;
    ASSERT_TRUE(qm::test::DecodeWithDjpeg(dir / "out.jpg", decoded)) << w << "x" << h;
    ASSERT_EQ(decoded.Width, w);
    ASSERT_EQ(decoded.Height, h);
    // The PSNR goal holds for a picture of some size; the narrow ones (whose
    // rows carry pad bytes) vary too fast per pixel for 4:2:0 chroma.
    EXPECT_GE(qm::test::Psnr(image, decoded), w > 8 ? 35.0 : 25.0) << w << "x" << h;
    // Top row on top: blue is strong at the top, weak at the bottom.
    EXPECT_GT(decoded.At(0, 0)[2], 180) << w << "x" << h;
    EXPECT_LT(decoded.At(0, h - 1)[2], 90) << w << "x" << h;
  }

  qm::test::WriteBmp(dir / "in.bmp", qm::test::TestPicture(8, 8));
  const std::string out = dir / "old.jpg";
  qm::test::WriteFile(out, "previous contents");
  const timespec times[2] = {{1000000000, 123456789}, {1100000000, 987654321}};
  ASSERT_EQ(::utimensat(AT_FDCWD, out.c_str(), times, 0), 0);
  ASSERT_EQ(::chmod(out.c_str(), 0444), 0);

  g.SaveAsJPG(dir / "in.bmp", out);
  struct stat after {};
  ASSERT_EQ(::stat(out.c_str(), &after), 0);
  EXPECT_EQ(after.st_mode & 07777, 0444u);
  EXPECT_EQ(after.st_atim.tv_sec, times[0].tv_sec);
  EXPECT_EQ(after.st_atim.tv_nsec, times[0].tv_nsec);
  EXPECT_EQ(after.st_mtim.tv_sec, times[1].tv_sec);
  EXPECT_EQ(after.st_mtim.tv_nsec, times[1].tv_nsec);
  EXPECT_EQ(qm::test::ReadFile(out).substr(0, 2), "\xFF\xD8");

  // A new file gets what the platform gives it; no temporary file is left behind.
  const mode_t mask = ::umask(022);
  ::umask(mask);
  g.SaveAsJPG(dir / "in.bmp", dir / "new.jpg");
  ASSERT_EQ(::stat((dir / "new.jpg").c_str(), &after), 0);
  EXPECT_EQ(after.st_mode & 0777, 0666u & ~mask);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 5);  // with out.jpg and its .ppm
}

TEST(SaveAsJPG, BadInputGivesClearErrors) {
  qm::test::ScratchDir dir;
  qm::Graphics g;
  qm::test::WriteFile(dir / "notes.txt", "no picture");
  auto e = RaisedBy([&] { g.SaveAsJPG(dir / "notes.txt", dir / "x.jpg"); });
  EXPECT_EQ(e.Number(), qm::ERR_InvalidPicture);
  EXPECT_EQ(e.Source(), "QuillmarkLibrary.Graphics|[Graphics]Public Sub SaveAsJPG(\"" + (dir / "notes.txt") +
                            "\", \"" + (dir / "x.jpg") + "\")");

  qm::test::WriteBmp(dir / "in.bmp", qm::test::TestPicture(4, 4));
  const std::string unwritable = dir / "no-such-folder/x.jpg";
  e = RaisedBy([&] { g.SaveAsJPG(dir / "in.bmp", unwritable); });
  EXPECT_EQ(e.Number(), 26001);
  EXPECT_EQ(e.Description(), "Failed to save to JPG " + std::to_string(qm::ijl::IJL_FILE_ERROR));
  EXPECT_EQ(e.Source(), "Lib.mIntelJPEGLibrary|[IJL]Public Function SaveJPG(?, \"" + unwritable +
                            "\", 90)|[Graphics]Public Sub SaveAsJPG(\"" + (dir / "in.bmp") + "\", \"" + unwritable +
                            "\")");

  // An empty DIB (a picture whose size could not be had) fails in the writer.
  qm::clsDIBSection empty;
  e = RaisedBy([&] { qm::mdlIntelJPEGLibrary::SaveJPG(empty, dir / "e.jpg", 90); });
  EXPECT_EQ(e.Number(), 26001);
  EXPECT_EQ(e.Description(), "Failed to save to JPG " + std::to_string(qm::ijl::IJL_INVALID_JPEG_PROPERTIES));

  // A failed write leaves the file it would have replaced as it was.
  qm::clsDIBSection dib;
  ASSERT_TRUE(dib.Create(4, 4));
  qm::test::WriteFile(dir / "keep.jpg", "keep me");
  EXPECT_EQ(RaisedBy([&] { qm::mdlIntelJPEGLibrary::SaveJPG(dib, dir / "keep.jpg", 0); }).Number(), 26001);
  EXPECT_EQ(qm::test::ReadFile(dir / "keep.jpg"), "keep me");
  EXPECT_TRUE(qm::mdlIntelJPEGLibrary::SaveJPG(dib, dir / "keep.jpg", 100));
}

}  // namespace

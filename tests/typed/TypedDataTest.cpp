// The typed layer over values in memory: resampling, compression of bytes,
// Format, error trails and settings agree with the published classes.

#include <gtest/gtest.h>

#include "quillmark/compression/Compress.h"
#include "quillmark/graphics/Interpolate.h"
#include "quillmark/quillmark.h"
#include "quillmark/runtime/Conversions.h"
#include "quillmark/runtime/Settings.h"
#include "support/ErrorOf.h"

namespace {

using qm::test::Described;
using qm::test::ErrorOf;
using qm::test::RaisedBy;

std::vector<double> Published(qm::Variant (qm::Interpolate::*method)(qm::Variant&, std::int16_t),
                              const std::vector<double>& samples, std::int16_t precision) {
  std::vector<qm::Variant> in(samples.begin(), samples.end());
  qm::Variant array(qm::VariantArray::FromVector(std::move(in), 0, qm::vbDouble));
  qm::Interpolate interpolate;
  const qm::Variant out = (interpolate.*method)(array, precision);
  std::vector<double> values;
  for (const qm::Variant& v : out.Array().Data()) values.push_back(qm::CDbl(v));
  return values;
}

TEST(TypedData, ResamplingGivesThePublishedValuesAndErrors) {
  const std::vector<double> samples = {0, 3.5, -1, 2, 2, 10};
  for (std::int16_t precision : {1, 4, 7}) {
    EXPECT_EQ(qm::ResampleCubic(samples, precision), Published(&qm::Interpolate::InterpCub, samples, precision));
    EXPECT_EQ(qm::ResampleLinear(samples, precision), Published(&qm::Interpolate::InterpLin, samples, precision));
  }
  EXPECT_TRUE(qm::ResampleCubic({}, 5).empty());
  EXPECT_EQ(ErrorOf([&] { qm::ResampleCubic(samples, -1); }), qm::ERR_SubscriptOutOfRange);
  EXPECT_EQ(ErrorOf([&] { qm::ResampleLinear(std::vector<double>(40000, 1.0), 1); }), qm::ERR_Overflow);
}

TEST(TypedData, DeflateAndInflateMatchCompressAndRaiseOnBadData) {
  std::vector<std::uint8_t> data;
  for (int i = 0; i < 5000; ++i) data.push_back(static_cast<std::uint8_t>(i * i % 251));
  for (auto level : {qm::COM_NO_COMPRESSION, qm::COM_BEST_SPEED, qm::COM_DEFAULT_COMPRESSION}) {
    std::vector<std::uint8_t> expected = data;
    ASSERT_EQ(qm::Compress().CompressByteArray(expected, level), 0);
    const auto packed = qm::Deflate(data, level);
    EXPECT_EQ(packed, expected);
    EXPECT_EQ(qm::Inflate(packed, static_cast<std::int32_t>(data.size())), data);
  }
  auto damaged = qm::Deflate(data);
  damaged[damaged.size() / 2] ^= 0xFF;
  const qm::Error corrupt = RaisedBy([&] { qm::Inflate(damaged, 5000); });
  EXPECT_EQ(corrupt.Number(), qm::ERR_General);
  EXPECT_EQ(corrupt.Description(), "Compression failed: zlib result -3 (data error)");
  EXPECT_EQ(corrupt.Source(), "QuillmarkLibrary.Compress");
  // An original size too small for the data, a level zlib refuses, and a
  // size whose work buffer would be negative (raised by Compress itself).
  EXPECT_EQ(Described([&] { qm::Inflate(qm::Deflate(data), 100); }),
            "9999: Compression failed: zlib result -5 (buffer error)");
  EXPECT_EQ(ErrorOf([&] { qm::Deflate(data, static_cast<qm::CompressionLevelConstants>(12)); }), qm::ERR_General);
  EXPECT_EQ(ErrorOf([&] { qm::Inflate(data, -100); }), qm::ERR_SubscriptOutOfRange);
}

TEST(TypedData, FormatOfNumbersAndDatesIsTheVariantFormat) {
  EXPECT_EQ(qm::Format(1234.5, "#,##0.00"), qm::Format(qm::Variant(1234.5), "#,##0.00"));
  EXPECT_EQ(qm::Format(1234.5, "#,##0.00"), "1,234.50");
  EXPECT_EQ(qm::Format(7, "000"), "007");
  using namespace std::chrono;
  const local_seconds when = local_days(2024y / February / 29) + 13h + 5min + 9s;
  EXPECT_EQ(qm::Format(when, "yyyy-mm-dd hh:nn:ss dddd"), "2024-02-29 13:05:09 Thursday");
  EXPECT_EQ(qm::Format(2024y / March / 3, "ww", qm::vbMonday),
            qm::Format(qm::Variant(qm::MakeDate(2024, 3, 3)), "ww", qm::vbMonday));
  // Before the serial's epoch the time still counts forward from the day.
  const local_seconds early = local_days(1899y / December / 29) + 6h;
  EXPECT_EQ(qm::Format(early, "General Date"), "1899-12-29 06:00:00");
  EXPECT_EQ(ErrorOf([] { qm::Format(local_days(50y / January / 1), "yyyy"); }), qm::ERR_Overflow);
  EXPECT_EQ(ErrorOf([] { qm::Format(2023y / February / 29, "yyyy"); }), qm::ERR_InvalidProcedureCall);
}

TEST(TypedData, TrailSplitsTheSourceIntoPieces) {
  EXPECT_EQ(qm::Trail("QuillmarkLibrary.XML|[XML]Public Function LoadFile(\"a\")|[App]Main"),
            (std::vector<std::string>{"QuillmarkLibrary.XML", "[XML]Public Function LoadFile(\"a\")", "[App]Main"}));
  EXPECT_TRUE(qm::Trail("").empty());
  EXPECT_EQ(qm::Trail("a||b"), (std::vector<std::string>{"a", "", "b"}));
  qm::Variant notAnArray(1);
  const qm::Error e = RaisedBy([&] { qm::Interpolate().InterpCub(notAnArray, 2); });
  const auto pieces = qm::Trail(e);
  ASSERT_EQ(pieces.size(), 2u);
  EXPECT_EQ(pieces[1], "[Interpolate]Public Function InterpCub(?, 2)");
}

TEST(TypedData, SettingsSectionReadsAndWritesTheStore) {
  qm::SettingsSection window("TypedApp", "Window");
  window.Set("Title", "Invoices");
  window.Set("Width", 812.5);
  window.Set("Count", 3);
  EXPECT_EQ(qm::GetSetting("TypedApp", "Window", "Title"), "Invoices");
  EXPECT_EQ(qm::GetSetting("TypedApp", "Window", "Width"), "812.5");
  EXPECT_EQ(window.GetNumber("Width", 0), 812.5);
  EXPECT_EQ(window.GetNumber("Count", 0), 3);
  EXPECT_EQ(window.GetNumber("Missing", 640), 640);
  EXPECT_EQ(window.Get("Missing", "none"), "none");
  EXPECT_EQ(ErrorOf([&] { window.GetNumber("Title", 0); }), qm::ERR_TypeMismatch);
  window.Remove("Title");
  EXPECT_EQ(window.Get("Title", "gone"), "gone");
  window.RemoveAll();
  EXPECT_EQ(window.GetNumber("Width", -1), -1);
}

}  // namespace

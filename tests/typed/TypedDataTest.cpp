// The typed layer over values in memory: resampling, compression of bytes,
// Format, error trails and settings agree with the published classes.

#include <gtest/gtest.h>

#include <limits>

#include "quillmark/compression/Compress.h"
#include "quillmark/graphics/Interpolate.h"
#include "quillmark/quillmark.h"
#include "quillmark/runtime/Conversions.h"
#include "quillmark/runtime/Format.h"
#include "quillmark/runtime/Settings.h"
#include "support/ErrorOf.h"

namespace {

using namespace qm::test;

std::vector<double> Published(qm::Variant (qm::Interpolate::*method)(qm::Variant&, std::int16_t),
                              const std::vector<double>& samples, std::int16_t precision) {
  qm::Variant array(
      qm::VariantArray::FromVector(std::vector<qm::Variant>(samples.begin(), samples.end()), 0, qm::vbDouble));
  const qm::Variant out = (qm::Interpolate().*method)(array, precision);
  std::vector<double> values;
  for (const qm::Variant& v : out.Array().Data()) values.push_back(qm::CDbl(v));
  return values;
}

TEST(TypedData, ResamplingAndCompressionGiveThePublishedValuesAndErrors) {
  const std::vector<double> samples = {0, 3.5, -1, 2, 2, 10};
  for (const std::int16_t precision : {0, 1, 4, 7}) {
    EXPECT_EQ(qm::ResampleCubic(samples, precision), Published(&qm::Interpolate::InterpCub, samples, precision));
    EXPECT_EQ(qm::ResampleLinear(samples, precision), Published(&qm::Interpolate::InterpLin, samples, precision));
  }
  EXPECT_TRUE(qm::ResampleCubic({}, 5).empty());
  EXPECT_EQ(qm::ResampleCubic(std::vector<double>{4.5}, -3), std::vector<double>{4.5});
  // The published limits (GraphicsTest) are not the typed calls' limits.
  std::vector<double> many(40000);
  for (std::size_t i = 0; i < many.size(); ++i) many[i] = static_cast<double>(i % 7) - 0.5 * static_cast<double>(i % 3);
  const auto cubic = qm::ResampleCubic(many, 3);
  ASSERT_EQ(cubic.size(), 39999u * 3 + 1);
  for (std::size_t i = 0; i < many.size(); ++i) ASSERT_NEAR(cubic[3 * i], many[i], 1e-9) << i;  // through every sample
  EXPECT_EQ(qm::ResampleLinear(many, 2)[2 * 39998 + 1], 0.5 * many[39998] + 0.5 * many[39999]);
  // Sizes that would pass the cap are refused before anything is allocated
  // (one count for both).
  EXPECT_EQ(ErrorOf([&] { qm::ResampleCubic(samples, std::numeric_limits<int>::max()); }), qm::ERR_Overflow);

  // The published error's trail, split into its pieces.
  qm::Variant notAnArray(1);
  EXPECT_EQ(qm::Trail(RaisedBy([&] { qm::Interpolate().InterpCub(notAnArray, 2); })),
            (std::vector<std::string>{"QuillmarkLibrary.Interpolate", "[Interpolate]Public Function InterpCub(?, 2)"}));
  EXPECT_TRUE(qm::Trail("").empty());
  EXPECT_EQ(qm::Trail("a||b"), (std::vector<std::string>{"a", "", "b"}));

  std::vector<std::uint8_t> data;
  for (int i = 0; i < 5000; ++i) data.push_back(static_cast<std::uint8_t>(i * i % 251));
  for (const auto& [typed, published] : {std::pair{qm::DeflateLevel::Store, qm::COM_NO_COMPRESSION},
                                         {qm::DeflateLevel::Fastest, qm::COM_BEST_SPEED},
                                         {qm::DeflateLevel::Default, qm::COM_DEFAULT_COMPRESSION},
                                         {qm::DeflateLevel::Smallest, qm::COM_BEST_COMPRESSION}}) {
    std::vector<std::uint8_t> expected = data;
    ASSERT_EQ(qm::Compress().CompressByteArray(expected, published), 0);
    EXPECT_EQ(qm::Deflate(data, typed), expected);
    EXPECT_EQ(qm::Inflate(expected), data);
    EXPECT_EQ(qm::Inflate(expected, data.size()), data);  // a cap the data just fits
  }
  const auto packed = qm::Deflate(data);
  EXPECT_EQ(Described([&] { qm::Inflate(packed, 4999); }), "6: Overflow: the data expands beyond 4999 bytes");
  auto damaged = packed;
  damaged[damaged.size() / 2] ^= 0xFF;
  EXPECT_EQ(RaisedBy([&] { qm::Inflate(damaged); }).Source(), "QuillmarkLibrary.Compress");
  // Damaged, and cut short.
  for (const auto& bad : {std::span<const std::uint8_t>(damaged), {packed.data(), packed.size() - 10}})
    EXPECT_EQ(Described([&] { qm::Inflate(bad); }), "9999: Compression failed: zlib result -3 (data error)");
  for (const int level : {12, -1})
    EXPECT_EQ(ErrorOf([&] { qm::Deflate(data, qm::DeflateLevel{level}); }), qm::ERR_InvalidProcedureCall) << level;
  // Output far beyond the first piece the buffer starts with comes back whole.
  const std::vector<std::uint8_t> zeros(40'000'000, 0);
  EXPECT_EQ(qm::Inflate(qm::Deflate(zeros, qm::DeflateLevel::Fastest)), zeros);

  // The published call keeps its codes over the same inflater (the others
  // are in CompressTest): no room at all gives uncompress's answer.
  std::vector<std::uint8_t> exact = packed;
  EXPECT_EQ(qm::Compress().DecompressByteArray(exact, -12), -3);
}

// The typed entries read a date's calendar parts as given and its serial for
// numbers; the Variant Format hands each type to the entry that keeps its
// general text.
TEST(TypedData, FormatAgreesWithTheVariantByTypeAndSettingsReadAndWriteTheStore) {
  EXPECT_EQ(qm::Format(1234.5, "#,##0.00") + "|" + qm::Format(7, "000"), "1,234.50|007");
  using namespace std::chrono;
  const local_seconds when = local_days(2024y / February / 29) + 13h + 5min + 9s;
  EXPECT_EQ(qm::Format(when, "yyyy-mm-dd hh:nn:ss dddd"), "2024-02-29 13:05:09 Thursday");
  for (const auto& [typed, published] :
       {std::pair{Sunday, qm::vbSunday}, std::pair{Monday, qm::vbMonday}, std::pair{Saturday, qm::vbSaturday}})
    EXPECT_EQ(qm::Format(2024y / March / 3, "ww w", typed),
              qm::Format(qm::Variant(qm::MakeDate(2024, 3, 3)), "ww w", published));
  // Before the serial's epoch the time still counts forward from the day.
  EXPECT_EQ(qm::Format(local_days(1899y / December / 29) + 6h, "General Date"), "1899-12-29 06:00:00");
  for (const auto& [date, serial] :
       {std::pair<local_seconds, qm::Date>{local_days(1899y / December / 29) + 6h, qm::Date{-1.25}},
        {local_days(1899y / December / 30) + 12h, qm::Date{0.5}},
        {local_days(100y / January / 1), qm::MakeDate(100, 1, 1)},
        {local_days(9999y / December / 31) + 23h + 59min + 59s, qm::MakeDate(9999, 12, 31, 23, 59, 59)}})
    for (const char* format : {"yyyy-mm-dd hh:nn:ss dddd y ww", "0.000000", "c", "General Date", "@", "Yes/No", ""})
      EXPECT_EQ(qm::Format(date, format, Monday), qm::Format(qm::Variant(serial), format, qm::vbMonday)) << format;
  // Outside the years 100 to 9999 only the date placeholders refuse.
  const local_seconds before = local_days(99y / December / 31);
  EXPECT_EQ(ErrorOf([&] { qm::Format(before, "General Date"); }), qm::ERR_Overflow);
  EXPECT_EQ(qm::Format(before, "0"), qm::Format(qm::Variant(qm::MakeDate(99, 12, 31)), "0"));
  EXPECT_EQ(qm::Format(local_days(10000y / January / 1), ""), "10000-01-01");
  EXPECT_EQ(ErrorOf([] { qm::Format(2023y / February / 29, "yyyy"); }), qm::ERR_InvalidProcedureCall);
  EXPECT_EQ(ErrorOf([] { qm::Format(2023y / February / 28, "ww", weekday{9}); }), qm::ERR_InvalidProcedureCall);
  // A number as a date counts days from 1899-12-30.
  EXPECT_EQ(qm::Format(45351.5, "yyyy-mm-dd hh:nn"), "2024-02-29 12:00");

  // Types whose general text is not the double's keep it.
  EXPECT_EQ(qm::Format(qm::Variant(true), "") + "|" + qm::Format(qm::Variant(true), "0") + "|" +
                qm::Format(qm::Variant(1.1F), "") + "|" + qm::Format(qm::Variant(qm::Currency{123456}), "@") + "|" +
                qm::Format(qm::Variant(std::int16_t{-42}), "0.0;(0.0)") + "|" + qm::Format(qm::Variant(), "0.0") + "|" +
                qm::Format(qm::Variant(), "") + "|" + qm::Format(qm::Variant(qm::Null), "0;0;0;\\N") + "|" +
                qm::Format(qm::Variant(std::string("2024-03-03")), "dddd"),
            "True|-1|1.1|12.3456|(42.0)|0.0||N|Sunday");
  EXPECT_EQ(ErrorOf([] { qm::Format(qm::Variant(qm::Date{1e7}), "yyyy"); }), qm::ERR_Overflow);

  qm::SettingsSection window("TypedApp", "Window");
  window.Set("Title", "Invoices");
  window.Set("Width", 812.5);               // a number, stored in its invariant text
  window.Set("Empty", std::string_view());  // a view that points nowhere is stored as ""
  EXPECT_EQ(window.Get("Empty", "none") + "|" + qm::GetSetting("TypedApp", "Window", "Width") + "|" +
                window.Get("Missing", "none") + "|" + window.Get("Title", "none"),
            "|812.5|none|Invoices");
  EXPECT_EQ(std::pair(window.GetNumber("Width", 0), window.GetNumber("Missing", 640)), std::pair(812.5, 640.0));
  window.Remove("Title");
  EXPECT_EQ(window.Get("Title", "gone"), "gone");
  window.RemoveAll();
  EXPECT_EQ(window.GetNumber("Width", -1), -1);
}

}  // namespace

#include <gtest/gtest.h>

#include <clocale>
#include <functional>

#include "quillmark/errors/Error.h"
#include "quillmark/values/Conversions.h"
#include "support/ErrorOf.h"

namespace {

using qm::Variant;

using qm::test::ErrorOf;

TEST(Conversions, GeneralNumberText) {
  EXPECT_EQ(qm::FormatGeneral(0), "0");
  EXPECT_EQ(qm::FormatGeneral(-0.0), "0");
  EXPECT_EQ(qm::FormatGeneral(0.1), "0.1");
  EXPECT_EQ(qm::FormatGeneral(1.0 / 3), "0.333333333333333");
  EXPECT_EQ(qm::FormatGeneral(123456789012345.0), "123456789012345");
  EXPECT_EQ(qm::FormatGeneral(1e15), "1E+15");
  EXPECT_EQ(qm::FormatGeneral(1.5e-7), "1.5E-07");
  EXPECT_EQ(qm::FormatGeneral(0.0001), "0.0001");
  EXPECT_EQ(qm::FormatGeneralSingle(0.1f), "0.1");
  EXPECT_EQ(qm::CStr(Variant(true)), "True");
  EXPECT_EQ(qm::CStr(Variant()), "");
  EXPECT_EQ(ErrorOf([] { qm::CStr(Variant(qm::Null)); }), 94);
}

TEST(Conversions, InvariantWriterAndReaderWhateverTheLocale) {
  const std::pair<double, const char*> written[] = {{2.5, " 2.5"}, {0.5, " .5"}, {-0.25, "-.25"},
                                                    {3, " 3"},     {0, " 0"},    {1e20, " 1E+20"}};
  for (const auto& [value, text] : written) EXPECT_EQ(qm::WriteInvariantNumber(value), text);
  const std::pair<const char*, double> read[] = {{"  7.5xyz", 7.5}, {"", 0},   {"-.25", -0.25}, {"1 2 3", 123},
                                                 {"1E+20", 1e20},   {"2e", 2}, {"&HFF", 255},   {"&O17", 15},
                                                 {".", 0},          {"-", 0}};
  for (const auto& [text, value] : read) EXPECT_EQ(qm::Val(text), value) << text;

  // The invariant forms ignore the locale; the general text follows it.
  const char* old = std::setlocale(LC_NUMERIC, nullptr);
  const std::string saved = old ? old : "C";
  if (!std::setlocale(LC_NUMERIC, "de_DE.UTF-8")) GTEST_SKIP() << "de_DE.UTF-8 is not installed";
  EXPECT_EQ(qm::WriteInvariantNumber(2.5), " 2.5");
  EXPECT_EQ(qm::Val("12.5abc"), 12.5);
  EXPECT_EQ(qm::FormatGeneral(2.5), "2,5");
  EXPECT_EQ(qm::CDbl(Variant("2,5")), 2.5);
  std::setlocale(LC_NUMERIC, saved.c_str());
}

TEST(Conversions, IntegerConversionsRoundHalfToEvenAndCheckRange) {
  EXPECT_EQ(qm::CLng(Variant(2.5)), 2);
  EXPECT_EQ(qm::CLng(Variant(3.5)), 4);
  EXPECT_EQ(qm::CLng(Variant(" 42 ")), 42);
  EXPECT_TRUE(qm::CBool(Variant("TRUE")));
  EXPECT_FALSE(qm::CBool(Variant("0")));
  EXPECT_TRUE(qm::CBool(Variant(-3)));
  const std::vector<std::pair<int, std::function<void()>>> refused = {
      {6, [] { qm::CLng(Variant(3e9)); }},      {6, [] { qm::CInt(Variant(40000)); }},
      {6, [] { qm::CByte(Variant(-1)); }},      {13, [] { qm::CLng(Variant("12abc")); }},
      {13, [] { qm::CDbl(Variant("")); }},      {94, [] { qm::CLng(Variant(qm::Null)); }},
      {13, [] { qm::CBool(Variant("maybe")); }}};
  for (std::size_t i = 0; i < refused.size(); ++i) EXPECT_EQ(ErrorOf(refused[i].second), refused[i].first) << i;
}

TEST(Conversions, DatesRoundTripThroughTheGeneralText) {
  const qm::Date d = qm::MakeDate(2026, 12, 6, 14, 5, 9);
  EXPECT_EQ(qm::FormatGeneralDate(d), "2026-12-06 14:05:09");
  EXPECT_EQ(qm::FormatGeneralDate(qm::MakeDate(1899, 12, 30)), "00:00:00");
  EXPECT_EQ(qm::FormatGeneralDate(qm::Date{2}), "1900-01-01");
  EXPECT_EQ(qm::FormatGeneralDate(qm::Date{0.75}), "18:00:00");
  EXPECT_EQ(qm::FormatGeneralDate(qm::Date{-1.25}), "1899-12-29 06:00:00");
  EXPECT_DOUBLE_EQ(qm::MakeDate(1899, 12, 29, 6).Serial, -1.25);
  for (const qm::Date date : {d, qm::Date{2}, qm::Date{0.75}, qm::Date{-700.5}, qm::MakeDate(9999, 12, 31)}) {
    EXPECT_DOUBLE_EQ(qm::CDate(Variant(qm::FormatGeneralDate(date))).Serial, date.Serial);
  }
  qm::Date out;
  for (const char* bad : {"2023-02-30", "2023-13-01 10:00:00", "2023-01-01 10:00:6x", "25:00:00"})
    EXPECT_FALSE(qm::TryParseDate(bad, out)) << bad;
  EXPECT_TRUE(qm::TryParseDate(" 2023-01-01 10:00:06 ", out));
  EXPECT_EQ(qm::FormatGeneralDate(out), "2023-01-01 10:00:06");
  EXPECT_EQ(ErrorOf([] { qm::CDate(Variant("tomorrow")); }), 13);
}

}  // namespace

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <clocale>
#include <filesystem>
#include <functional>

#include "persistence/PropertyClients.h"
#include "quillmark/errors/Error.h"
#include "quillmark/runtime/Collection.h"
#include "quillmark/runtime/Dictionary.h"
#include "quillmark/values/Conversions.h"
#include "quillmark/values/DispatchTable.h"
#include "quillmark/values/Text.h"
#include "quillmark/values/Variant.h"
#include "runtime/WindowsPath.h"
#include "support/ErrorOf.h"
#include "support/TestEnvironment.h"

namespace {

using qm::CompareIgnoringCase;
using qm::EqualsIgnoringCase;
using qm::Variant;
using qm::VariantArray;
using qm::test::ErrorOf;
using qm::test::Person;

struct Widget : qm::Object {
  std::string ClassName() const override { return "Widget"; }
};

// A value with its type: "Long:2".
std::string Typed(const Variant& v) { return v.TypeName() + ":" + qm::CStr(v); }

// (Empty, String and the numbers' names: in the results below.)
TEST(Variant, TypeNames) {
  EXPECT_EQ(Variant(qm::Null).TypeName(), "Null");
  EXPECT_EQ(Variant(true).TypeName(), "Boolean");
  EXPECT_EQ(Variant(std::uint8_t{1}).TypeName(), "Byte");
  EXPECT_EQ(Variant(std::make_shared<Widget>()).TypeName(), "Widget");
  EXPECT_EQ(Variant(qm::ObjectPtr()).TypeName(), "Nothing");
  EXPECT_EQ(Variant(VariantArray()).TypeName(), "Variant()");
  EXPECT_EQ(Variant(VariantArray({{0, 1}}, qm::vbString)).TypeName(), "String()");
  EXPECT_EQ(Variant(VariantArray()).VarType(), qm::vbArray | qm::vbVariant);
}

TEST(Variant, ArithmeticWidensLikeTheRuntimeAndComparisonsConvert) {
  const std::pair<Variant, const char*> sums[] = {
      {Variant(std::int16_t{30000}) + Variant(std::int16_t{30000}), "Long:60000"},
      {Variant(2147483647) + Variant(1), "Double:2147483648"},
      {Variant(std::uint8_t{200}) + Variant(std::uint8_t{100}), "Integer:300"},
      {Variant(1.5f) + Variant(1), "Double:2.5"},
      {Variant(1.5f) + Variant(std::int16_t{1}), "Single:2.5"},
      {Variant(true) + Variant(true), "Integer:-2"},
      {Variant("1") + Variant(2), "Double:3"},
      {Variant("a") + Variant(), "String:a"},
      {Variant() + Variant(), "Integer:0"},
      {Variant(qm::Date{10}) + Variant(1), "Date:1900-01-10"},
      {Variant(7) / Variant(2), "Double:3.5"},
      {Variant(qm::Currency{15000}) + Variant(1), "Currency:2.5"}};
  for (const auto& [sum, typed] : sums) EXPECT_EQ(Typed(sum), typed);
  EXPECT_TRUE((Variant(qm::Null) + Variant(1)).IsNull());
  EXPECT_EQ(ErrorOf([] { (void)(Variant(1) / Variant(0)); }), 11);
  EXPECT_EQ(ErrorOf([] { (void)(Variant("a") + Variant(1)); }), 13);
  EXPECT_EQ(ErrorOf([] { (void)(Variant(std::make_shared<Widget>()) + Variant(1)); }), 13);

  auto w = std::make_shared<Widget>();
  EXPECT_TRUE(Variant(1) == Variant(1.0) && Variant("10") == Variant(10) && Variant(w) == Variant(w));
  EXPECT_TRUE(Variant() == Variant(0) && Variant() == Variant(""));
  EXPECT_FALSE(Variant("a") == Variant("A"));
  EXPECT_FALSE(Variant(w) == Variant(std::make_shared<Widget>()));
  EXPECT_EQ(qm::Compare(Variant("a"), Variant("A"), true), 0);
  EXPECT_LT(qm::Compare(Variant(5), Variant("x")), 0);
  EXPECT_EQ(std::pair(qm::Compare(Variant(qm::Null), Variant(1)), qm::Compare(Variant(1), Variant(qm::Null))),
            std::pair(-1, 1));
  EXPECT_TRUE(Variant(qm::Currency{1}).HoldsNumber() && !Variant("1").HoldsNumber());
  EXPECT_EQ(ErrorOf([&] { qm::Compare(Variant(w), Variant(1)); }), 13);
}

TEST(VariantArray, BoundsIndexingRedimAndCopies) {
  VariantArray a({{5, 7}, {-1, 0}});
  EXPECT_EQ(std::tuple(a.Dimensions(), a.LBound(1), a.UBound(2), a.Size()), std::tuple(2, 5, 0, 6u));
  a(5, -1) = Variant("first");
  a(7, 0) = Variant("last");
  EXPECT_EQ(a.Data().front().String() + a.Data().back().String(), "firstlast");
  EXPECT_EQ(ErrorOf([&] { a(4, 0); }), 9);
  EXPECT_EQ(ErrorOf([&] { a(5); }), 9);
  EXPECT_EQ(ErrorOf([&] { (void)a.LBound(3); }), 9);
  VariantArray empty;
  EXPECT_EQ(std::pair(empty.LBound(), empty.UBound()), std::pair(0, -1));

  // Redim Preserve keeps the elements; copies are values.
  VariantArray b({{1, 2}, {0, 1}});
  b(1, 0) = Variant(10);
  b(2, 1) = Variant(21);
  b.Redim({{1, 2}, {0, 3}}, true);
  EXPECT_EQ(Typed(b(1, 0)) + Typed(b(2, 1)) + Typed(b(2, 3)), "Long:10Long:21Empty:");
  EXPECT_EQ(ErrorOf([&] { b.Redim({{1, 3}, {0, 3}}, true); }), 9);
  EXPECT_EQ(ErrorOf([&] { b.Redim({{0, 2000000000}, {0, 2000000000}}, false); }), 7);
  EXPECT_EQ(ErrorOf([&] { b.Redim({{3, 1}}, false); }), 9);

  Variant v(b);
  Variant copy = v;
  copy.Array()(1, 0) = Variant(99);
  EXPECT_EQ(qm::CLng(v.Array()(1, 0)), 10);
}

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
  EXPECT_EQ(qm::CStr(Variant(true)) + "|" + qm::CStr(Variant()), "True|");
  EXPECT_EQ(ErrorOf([] { qm::CStr(Variant(qm::Null)); }), 94);
}

TEST(Conversions, InvariantWriterAndReaderWhateverTheLocale) {
  const std::pair<double, const char*> written[] = {{2.5, " 2.5"}, {0.5, " .5"}, {-0.25, "-.25"},
                                                    {3, " 3"},     {0, " 0"},    {1e20, " 1E+20"}};
  for (const auto& [value, text] : written) EXPECT_EQ(qm::WriteInvariantNumber(value), text);
  const std::pair<const char*, double> read[] = {{"  7.5xyz", 7.5}, {"", 0},   {"-.25", -0.25}, {"1 2 3", 123},
                                                 {"1E+20", 1e20},   {"2e", 2}, {"&HFF", 255},   {"&O17", 15},
                                                 {".", 0},          {"-", 0},  {"1d2", 100},    {"-1e999", -HUGE_VAL}};
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
  EXPECT_EQ(std::tuple(qm::CLng(Variant(2.5)), qm::CLng(Variant(3.5)), qm::CLng(Variant(" 42 "))),
            std::tuple(2, 4, 42));
  EXPECT_EQ(std::tuple(qm::CBool(Variant("TRUE")), qm::CBool(Variant("0")), qm::CBool(Variant(-3))),
            std::tuple(true, false, true));
  EXPECT_EQ(std::tuple(qm::CDbl(Variant("&HFFFFFFFF")), qm::CDbl(Variant(" false ")), qm::CDbl(Variant("+5")),
                       qm::CBool(Variant("False")), qm::CDate(Variant(2.5)).Serial),
            std::tuple(-1.0, 0.0, 5.0, false, 2.5));
  const std::vector<std::pair<int, std::function<void()>>> refused = {
      {6, [] { qm::CLng(Variant(3e9)); }},       {6, [] { qm::CInt(Variant(40000)); }},
      {6, [] { qm::CByte(Variant(-1)); }},       {13, [] { qm::CLng(Variant("12abc")); }},
      {13, [] { qm::CDbl(Variant("")); }},       {94, [] { qm::CLng(Variant(qm::Null)); }},
      {13, [] { qm::CBool(Variant("maybe")); }}, {6, [] { qm::CSng(Variant(1e39)); }},
      {13, [] { qm::CDbl(Variant("&X1")); }},    {13, [] { (void)Variant(1).String(); }}};
  for (std::size_t i = 0; i < refused.size(); ++i) EXPECT_EQ(ErrorOf(refused[i].second), refused[i].first) << i;
  const Variant array{VariantArray()};
  EXPECT_EQ(std::pair(ErrorOf([&] { qm::CStr(array); }), ErrorOf([&] { qm::CDbl(array); })), std::pair(13, 13));
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

TEST(DispatchTable, PropertiesAndMethodsByNameWithoutAccessorsAndThroughVariants) {
  auto p = std::make_shared<Person>();
  p->Let("NAME", Variant("Ada"));
  p->Let("age", Variant("42"));
  p->Let("Height", Variant(1.5f));
  p->Let("Member", Variant("True"));
  p->Let("Since", Variant("2020-01-02"));
  auto f = std::make_shared<Person>();
  p->Let("Friend", Variant(f));
  EXPECT_EQ(std::tuple(p->Name, p->Age, p->Height, p->Member, p->Friend, qm::FormatGeneralDate(p->Since)),
            std::tuple("Ada", 42, 1.5, true, f, "2020-01-02"));
  EXPECT_EQ(Typed(p->Get("Badge")) + " " + Variant(p).TypeName(), "String:B42 Person");

  std::vector<Variant> args{Variant(2.0)};
  EXPECT_EQ(Typed(p->Call("grow", args)), "Double:3.5");
  EXPECT_EQ(Typed(args[0]), "Long:0");

  EXPECT_EQ(ErrorOf([&] { p->Let("Badge", Variant("x")); }), 383);
  EXPECT_EQ(ErrorOf([&] { p->Get("Missing"); }), 438);
  EXPECT_EQ(ErrorOf([&] { p->Let("Age", Variant("abc")); }), 13);
  EXPECT_EQ(ErrorOf([&] { p->Let("Friend", Variant(std::make_shared<qm::Dispatch>())); }), 13);

  // Late binding through variants.
  EXPECT_EQ(ErrorOf([] { qm::CallByName(Variant(), "x"); }), 91);
  EXPECT_EQ(ErrorOf([] { qm::CallByName(Variant(qm::ObjectPtr()), "x"); }), 91);
  EXPECT_EQ(ErrorOf([] { qm::CallByName(Variant(5), "x"); }), 438);
  qm::LetProperty(Variant(p), "Name", Variant("Bo"));
  EXPECT_EQ(qm::GetProperty(Variant(p), "name").String(), "Bo");
}

TEST(TextCase, EveryLetterMapsAndBrokenUtf8KeepsItsBytes) {
  EXPECT_EQ(qm::UCase("café àçñ ÿ"), "CAFÉ ÀÇÑ Ÿ");
  EXPECT_EQ(qm::LCase("ÉTÉ ΣΟΦΊΑ Ђ"), "été σοφία ђ");
  EXPECT_EQ(qm::UCase("straße"), "STRAßE");  // one code point to one: no "SS"
  EXPECT_EQ(qm::UCase("ı"), "I");            // the mapping may change the length in bytes
  EXPECT_EQ(qm::UCase("日本 123 _-"), "日本 123 _-");

  // Bytes that are not UTF-8 stay as they are (TextUtf8 below); the valid
  // parts around them map.
  EXPECT_EQ(qm::UCase("a\xE9" + std::string("b\xC3")), "A\xE9" + std::string("B\xC3"));

  // Equal without regard to case: letters everywhere, and the forms that only
  // one of the two mappings joins (final sigma, capital sharp s, the Kelvin
  // sign in three bytes against one). A Latin-1 byte is no stand-in for its
  // letter, and its upper case is another byte.
  const std::tuple<const char*, const char*, bool> pairs[] = {
      {"\xE9", "\xC9", false},      {"\xE9\x41", "\xE9\x61", true},
      {"\xE9", "é", false},         {"CAFÉ.TXT", "café.txt", true},
      {"ΣΊΣΥΦΟΣ", "σίσυφος", true}, {"ẞ", "ß", true},
      {"\u212A", "k", true},        {"é", "e", false},
      {"ab", "abc", false}};
  for (const auto& [a, b, equal] : pairs) EXPECT_EQ(EqualsIgnoringCase(a, b), equal) << a << " " << b;
  EXPECT_EQ(qm::FoldCase("ÉCOLE"), qm::FoldCase("école"));

  EXPECT_LT(CompareIgnoringCase("apple", "BANANA"), 0);
  EXPECT_GT(CompareIgnoringCase("Zürich", "zurich"), 0);
  EXPECT_EQ(CompareIgnoringCase("ÖL", "öl"), 0);
  EXPECT_LT(CompareIgnoringCase("ab", "ABC"), 0);
}

// The decoder is strict and each policy sees each invalid run once: `question`
// is the text under Question ('?' is U+FFFD under Replace); Refuse names the
// first run's byte. LCase, through NextCodePoint, keeps every byte. The runs:
// an overlong '<'; an overlong '/' in three and four bytes, a surrogate, a value
// past U+10FFFF; bytes no UTF-8 has, and cut sequences, inside and at the end.
TEST(TextUtf8, InvalidRunsUnderEachPolicy) {
  const std::tuple<std::string_view, std::string_view, const char*> rows[] = {
      {"a\xC0\xBC.", "a??.", "5: Invalid procedure call or argument: the text is not valid UTF-8 at byte 1"},
      {"\xE0\x80\xAF\xF0\x80\x80\xAF\xED\xA0\x80\xF4\x90\x80\x80", "??????????????", "byte 0"},
      {"x\xF5\x80\xFFx\xE2\x82x\xF0\x9F\x98", "x???x?x?", "byte 1"},
      {"\xF4\x8F\xBF\xBF\xEF\xBF\xBD\xC3\xA9", "\xF4\x8F\xBF\xBF\xEF\xBF\xBD\xC3\xA9", "0: no error"},
  };
  for (const auto& [text, question, refused] : rows) {
    EXPECT_EQ(qm::ValidUtf8(text, qm::InvalidUtf8::Question), question);
    EXPECT_EQ(qm::ValidUtf8(text, qm::InvalidUtf8::Replace), qm::ReplaceAll(std::string(question), "?", "\uFFFD"));
    EXPECT_THAT(qm::test::Described([text = text] { qm::ValidUtf8(text, qm::InvalidUtf8::Refuse); }),
                testing::HasSubstr(refused));
    EXPECT_EQ(qm::LCase(text), text);
  }
  // The character helpers count as NextCodePoint reads; Latin-1 gets no overlong '<'.
  const std::string s = "h\xC3\xA9llo \xE2\x82\xAC\xC0\xBC";  // "héllo €" and an overlong '<'
  EXPECT_EQ(qm::CharLength(s), 9u);
  EXPECT_EQ(qm::CharLeft(s, 2), "h\xC3\xA9");
  EXPECT_EQ(qm::CharMid(s, 7, 2), "\xE2\x82\xAC\xC0");
  EXPECT_EQ(qm::ToLatin1(s), "h\xE9llo ???");
}

TEST(TextCase, KeysNamesAndTextComparisonIgnoreCaseInEveryLetter) {
  qm::Collection collection;
  collection.Add(Variant(1), std::string("Ärger"));
  EXPECT_EQ(qm::CLng(collection.Item(Variant("ÄRGER"))), 1);
  EXPECT_TRUE(collection.ContainsKey("ärger"));
  EXPECT_THROW(collection.Add(Variant(2), std::string("äRGER")), qm::Error);

  qm::Dictionary text;
  text.SetCompareMode(qm::TextCompare);
  text.Add(Variant("Ελλάδα"), Variant(1));
  EXPECT_TRUE(text.Exists(Variant("ΕΛΛΆΔΑ")));
  EXPECT_EQ(ErrorOf([&] { text.Add(Variant("ελλάδα"), Variant(2)); }), 457);

  EXPECT_EQ(qm::Compare(Variant("ÉTÉ"), Variant("été"), true), 0);
  EXPECT_NE(qm::Compare(Variant("ÉTÉ"), Variant("été")), 0);

  EXPECT_FALSE(qm::SameName("Größe", "GRÖSSE"));
  EXPECT_TRUE(qm::SameName("Größe", "GRÖßE"));
}

TEST(Collection, PositionsKeysAndErrors) {
  qm::Collection c;
  c.Add(Variant("a"), "KeyA");
  c.Add(Variant("c"));
  c.Add(Variant("b"), "keyB", Variant(2));                           // before position 2
  c.Add(Variant("d"), std::nullopt, std::nullopt, Variant("KEYA"));  // after key "KeyA"
  ASSERT_EQ(c.Count(), 4);
  std::string order;
  for (const auto& e : c) order += e.Value.String();
  EXPECT_EQ(order, "adbc");
  EXPECT_EQ(c.Item(Variant("keya")).String() + c.Item(4).String(), "ac");
  c.Remove(Variant(1));
  EXPECT_EQ(c.Item(Variant("keyb")).String() + c.Item(1).String(), "bd");  // keys follow their items
  EXPECT_EQ(ErrorOf([&] { c.Add(Variant("x"), "KEYB"); }), 457);
  EXPECT_EQ(ErrorOf([&] { c.Item(0); }), 9);
  EXPECT_EQ(ErrorOf([&] { c.Item(Variant("missing")); }), 5);
  EXPECT_FALSE(c.ContainsKey("keya"));
  EXPECT_EQ(qm::CLng(c.Get("Count")), 3);
  c.Call("Add", {Variant("e")});
  EXPECT_EQ(c.Enumerate().size(), 4u);
}

TEST(Dictionary, KeysInInsertionOrderBinaryComparisonAndCopies) {
  qm::Dictionary d;
  d.Add(Variant("b"), Variant(1));
  d.Add(Variant("a"), Variant(2));
  d.Add(Variant(3), Variant("three"));
  EXPECT_EQ(std::tuple(d.Exists(Variant("a")), d.Exists(Variant("A")), d.Exists(Variant(3.0))),
            std::tuple(true, false, true));
  EXPECT_EQ(ErrorOf([&] { d.Add(Variant("a"), Variant()); }), 457);
  const auto keys = d.Keys();
  EXPECT_EQ(std::tuple(keys.LBound(), keys.UBound(), Typed(keys(0)), Typed(d.Items()(1))),
            std::tuple(0, 2, "String:b", "Long:2"));
  d.Remove(Variant("b"));
  EXPECT_EQ(d.Keys()(0).String(), "a");
  EXPECT_EQ(ErrorOf([&] { d.Remove(Variant("zz")); }), 32811);
  EXPECT_TRUE(d.Item(Variant("new")).IsEmpty());  // reading a missing key adds it
  EXPECT_EQ(d.Count(), 3);
  EXPECT_EQ(ErrorOf([&] { d.SetCompareMode(qm::TextCompare); }), 5);
  d.SetKey(Variant("a"), Variant("z"));
  EXPECT_EQ(d.Keys()(0).String(), "z");

  // Copies and bulk appends keep their own index.
  qm::Dictionary a;
  a.Add(Variant("x"), Variant(1));
  qm::Dictionary b(a);
  a.Remove(Variant("x"));  // the copy does not share the original's index
  EXPECT_TRUE(b.Exists(Variant("x")));
  b.Add(Variant("y"), Variant(2));
  a = b;
  EXPECT_EQ(a.Get(Variant("y")), Variant(2));
  EXPECT_THROW(a.Add(Variant("x"), Variant(3)), qm::Error);
  qm::Dictionary c;
  c.AppendUnique({Variant("p"), Variant(1)});
  c.AppendUnique({Variant("q"), Variant(2)});
  EXPECT_EQ(c.Get(Variant("q")), Variant(2));
  EXPECT_THROW(c.Add(Variant("p"), Variant(0)), qm::Error);
  c.AppendUnique({Variant("p"), Variant(9)});  // breaks the promise: reported, first one kept
  EXPECT_THROW(c.Exists(Variant("p")), qm::Error);
  EXPECT_EQ(Typed(c.Get(Variant("p"))) + std::to_string(c.Count()), "Long:12");
}

namespace fs = std::filesystem;
using qm::detail::WindowsPathResolver;

TEST(WindowsPath, ComponentsMatchWithoutRegardToCaseInEveryLetter) {
  qm::test::ScratchDir dir;
  fs::create_directories(dir.Path() / "Bilder" / "Übersicht");
  qm::test::WriteFile(dir / "Bilder/Übersicht/Straße Ω.png", "x");
  qm::test::WriteFile(dir / "r\xE9sum\xE9.gif", "x");  // a name that is not UTF-8
  WindowsPathResolver resolver(dir.Path());

  // The scan upper-cases references; the files keep their own case.
  const auto found = resolver.Resolve("BILDER\\ÜBERSICHT\\STRAßE ω.PNG");
  ASSERT_TRUE(found);
  EXPECT_EQ(*found, dir.Path() / "Bilder" / "Übersicht" / "Straße Ω.png");
  EXPECT_TRUE(resolver.FileExists("bilder/übersicht/straße Ω.png"));
  EXPECT_FALSE(resolver.FileExists("BILDER\\UBERSICHT\\STRASSE Ω.PNG"));  // no letter is another letter
  EXPECT_FALSE(resolver.FileExists("BILDER\\ÜBERSICHT"));                 // a folder is no file
  EXPECT_TRUE(resolver.Resolve("BILDER\\ÜBERSICHT"));
  EXPECT_FALSE(resolver.Resolve("BILDER\\NOWHERE\\X.PNG"));
  EXPECT_FALSE(resolver.Resolve(""));

  // Bytes that are not UTF-8 match only themselves; the letters around them still fold.
  EXPECT_TRUE(resolver.FileExists("R\xE9SUM\xE9.GIF"));
  EXPECT_FALSE(resolver.FileExists("R\xC9SUM\xC9.GIF"));
}

TEST(WindowsPath, SeparatorsDrivesDotsAndTheChoiceAmongMatches) {
  qm::test::ScratchDir dir;
  fs::create_directories(dir.Path() / "Reports" / "March");
  qm::test::WriteFile(dir / "Reports/March/Sales.txt", "x");
  qm::test::WriteFile(dir / "Reports/notes.txt", "lower");
  qm::test::WriteFile(dir / "Reports/NOTES.txt", "upper");
  const fs::path sales = dir.Path() / "Reports" / "March" / "Sales.txt";
  WindowsPathResolver resolver(dir.Path());

  // Either separator, doubled ones, "." and ".." taken on the name as written.
  EXPECT_EQ(resolver.Resolve("reports\\\\MARCH//./sales.TXT"), sales);
  EXPECT_EQ(resolver.Resolve("REPORTS\\Nowhere\\..\\MARCH\\SALES.TXT"), sales);
  EXPECT_EQ(resolver.Resolve(".\\reports\\march\\..\\March\\Sales.txt"), sales);

  // Absolute names, with or without a drive; ".." never climbs above the root.
  const std::string absolute = sales.string();
  EXPECT_EQ(resolver.Resolve(absolute), sales);
  EXPECT_EQ(resolver.Resolve("C:" + qm::detail::NativePath(absolute)), sales);
  EXPECT_EQ(resolver.Resolve("c:\\..\\.." + absolute), sales);
  EXPECT_EQ(resolver.Unresolved("C:\\tmp\\x.txt"), fs::path("/tmp/x.txt"));
  EXPECT_EQ(resolver.Unresolved("pics\\x.txt"), dir.Path() / "pics" / "x.txt");

  // The exact name wins; otherwise the first match in name order.
  EXPECT_EQ(resolver.Resolve("Reports\\notes.txt"), dir.Path() / "Reports" / "notes.txt");
  EXPECT_EQ(resolver.Resolve("Reports\\Notes.txt"), dir.Path() / "Reports" / "NOTES.txt");

  EXPECT_TRUE(qm::detail::IsDrive("z:"));
  EXPECT_FALSE(qm::detail::IsDrive("1:"));
  EXPECT_FALSE(qm::detail::IsDrive("C:x"));
  EXPECT_EQ(qm::detail::FileNamePart("a\\b/c.png"), "c.png");
  EXPECT_EQ(qm::detail::FolderPart("a\\b/c.png"), "a\\b/");
  EXPECT_EQ(qm::detail::FolderPart("c.png"), "");
}

}  // namespace

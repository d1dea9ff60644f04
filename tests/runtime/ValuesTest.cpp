// Variants, conversions, text and Windows names; Dictionary and Collection
// reached by name, as late-bound scripts reach them.

#include <gtest/gtest.h>

#include <clocale>
#include <filesystem>
#include <functional>
#include <iomanip>
#include <sstream>

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

namespace fs = std::filesystem;
using qm::Variant;
using qm::VariantArray;
using qm::test::ErrorOf;
using Numbers = std::vector<int>;

// "Type:text", objects and Null by type name, arrays element by element.
std::string Show(const Variant& v) {
  if (!v.IsArray()) return v.IsObject() || v.IsNull() ? v.TypeName() : v.TypeName() + ":" + qm::CStr(v);
  std::string out;
  for (const auto& e : v.Array().Data()) out += Show(e) + " ";
  return out;
}

// What `f` gives for each argument, each followed by "|" (numbers exact).
std::string Each(auto f, const auto&... args) {
  std::ostringstream out;
  out << std::boolalpha << std::setprecision(17);
  ((out << f(args) << "|"), ...);
  return out.str();
}

// The error numbers the calls raise, one after another (0: none).
Numbers Raised(std::initializer_list<std::function<void()>> calls) {
  Numbers numbers;
  for (const auto& call : calls) numbers.push_back(ErrorOf(call));
  return numbers;
}

TEST(Variant, TypeNamesWideningArithmeticConvertingComparisonsAndArrays) {
  auto w = std::make_shared<qm::Collection>();
  EXPECT_EQ(Each([](const Variant& v) { return v.TypeName(); }, Variant(qm::Null), true, std::uint8_t{1}, Variant(w),
                 Variant(qm::ObjectPtr()), VariantArray(), VariantArray({{0, 1}}, qm::vbString)),
            "Null|Boolean|Byte|Collection|Nothing|Variant()|String()|");
  EXPECT_EQ(Variant(VariantArray()).VarType(), qm::vbArray | qm::vbVariant);
  EXPECT_EQ(Each(Show, Variant(std::int16_t{30000}) + Variant(std::int16_t{30000}), Variant(2147483647) + Variant(1),
                 Variant(std::uint8_t{200}) + Variant(std::uint8_t{100}), Variant(1.5f) + Variant(1),
                 Variant(1.5f) + Variant(std::int16_t{1}), Variant(true) + Variant(true), Variant("1") + Variant(2),
                 Variant("a") + Variant(), Variant() + Variant(), Variant(qm::Date{10}) + Variant(1),
                 Variant(7) / Variant(2), Variant(qm::Currency{15000}) + Variant(1), Variant(qm::Null) + Variant(1)),
            "Long:60000|Double:2147483648|Integer:300|Double:2.5|Single:2.5|Integer:-2|Double:3|String:a|Integer:0|"
            "Date:1900-01-10|Double:3.5|Currency:2.5|Null|");
  EXPECT_TRUE(Variant(1) == Variant(1.0) && Variant("10") == Variant(10) && Variant(w) == Variant(w));
  EXPECT_TRUE(Variant() == Variant(0) && Variant() == Variant(""));
  EXPECT_FALSE(Variant("a") == Variant("A"));
  EXPECT_FALSE(Variant(w) == Variant(std::make_shared<qm::Collection>()));
  EXPECT_EQ(std::tuple(qm::Compare("a", "A", true), qm::Compare(5, "x") < 0, qm::Compare(Variant(qm::Null), 1),
                       qm::Compare(1, Variant(qm::Null))),
            std::tuple(0, true, -1, 1));
  EXPECT_TRUE(Variant(qm::Currency{1}).HoldsNumber() && !Variant("1").HoldsNumber());
  EXPECT_EQ(Raised({[] { (void)(Variant(1) / Variant(0)); }, [] { (void)(Variant("a") + Variant(1)); },
                    [&] { (void)(Variant(w) + Variant(1)); }, [&] { qm::Compare(Variant(w), Variant(1)); }}),
            (Numbers{11, 13, 13, 13}));

  // Arrays: bounds, indexing, Redim; copies are values.
  VariantArray a({{5, 7}, {-1, 0}});
  EXPECT_EQ(std::tuple(a.Dimensions(), a.LBound(1), a.UBound(2), a.Size()), std::tuple(2, 5, 0, 6u));
  a(5, -1) = Variant("first");
  a(7, 0) = Variant("last");
  EXPECT_EQ(a.Data().front().String() + a.Data().back().String(), "firstlast");
  EXPECT_EQ(Raised({[&] { a(4, 0); }, [&] { a(5); }, [&] { (void)a.LBound(3); }}), (Numbers{9, 9, 9}));
  EXPECT_EQ(std::pair(VariantArray().LBound(), VariantArray().UBound()), std::pair(0, -1));

  // Redim Preserve keeps the elements; copies are values.
  VariantArray b({{1, 2}, {0, 1}});
  b(1, 0) = Variant(10);
  b(2, 1) = Variant(21);
  b.Redim({{1, 2}, {0, 3}}, true);
  EXPECT_EQ(Show(b(1, 0)) + Show(b(2, 1)) + Show(b(2, 3)), "Long:10Long:21Empty:");
  EXPECT_EQ(ErrorOf([&] { b.Redim({{1, 3}, {0, 3}}, true); }), 9);
  EXPECT_EQ(ErrorOf([&] { b.Redim({{0, 2000000000}, {0, 2000000000}}, false); }), 7);
  EXPECT_EQ(ErrorOf([&] { b.Redim({{3, 1}}, false); }), 9);
  Variant v(b);
  Variant copy = v;
  copy.Array()(1, 0) = Variant(99);
  EXPECT_EQ(qm::CLng(v.Array()(1, 0)), 10);
}

TEST(Conversions, GeneralAndInvariantNumberTextWhateverTheLocale) {
  EXPECT_EQ(Each(qm::FormatGeneral, 0, -0.0, 0.1, 1.0 / 3, 123456789012345.0, 1e15, 1.5e-7, 0.0001),
            "0|0|0.1|0.333333333333333|123456789012345|1E+15|1.5E-07|0.0001|");
  EXPECT_EQ(qm::FormatGeneralSingle(0.1f) + "|" + qm::CStr(Variant(true)) + "|" + qm::CStr(Variant()), "0.1|True|");
  EXPECT_EQ(ErrorOf([] { qm::CStr(Variant(qm::Null)); }), 94);
  EXPECT_EQ(Each(qm::WriteInvariantNumber, 2.5, 0.5, -0.25, 3, 0, 1e20), " 2.5| .5|-.25| 3| 0| 1E+20|");
  EXPECT_EQ(Each(qm::Val, "  7.5xyz", "", "-.25", "1 2 3", "1E+20", "2e", "&HFF", "&O17", ".", "-", "1d2", "-1e999"),
            "7.5|0|-0.25|123|1e+20|2|255|15|0|0|100|-inf|");

  // The invariant forms ignore the locale; the general text follows it.
  const char* old = std::setlocale(LC_NUMERIC, nullptr);
  const std::string saved = old ? old : "C";
  if (!std::setlocale(LC_NUMERIC, "de_DE.UTF-8")) GTEST_SKIP() << "de_DE.UTF-8 is not installed";
  EXPECT_EQ(std::tuple(qm::WriteInvariantNumber(2.5), qm::Val("12.5abc"), qm::FormatGeneral(2.5), qm::CDbl("2,5")),
            std::tuple(" 2.5", 12.5, "2,5", 2.5));
  std::setlocale(LC_NUMERIC, saved.c_str());
}

TEST(Conversions, IntegersRoundHalfToEvenAndCheckRangeDatesRoundTripThroughTheGeneralText) {
  EXPECT_EQ(Each(qm::CLng, 2.5, 3.5, " 42 "), "2|4|42|");
  EXPECT_EQ(Each(qm::CBool, "TRUE", "0", -3, "False"), "true|false|true|false|");
  EXPECT_EQ(Each(qm::CDbl, "&HFFFFFFFF", " false ", "+5"), "-1|0|5|");
  EXPECT_EQ(qm::CDate(Variant(2.5)).Serial, 2.5);
  const Variant array{VariantArray()};
  EXPECT_EQ(Raised({[] { qm::CLng(3e9); }, [] { qm::CInt(40000); }, [] { qm::CByte(-1); }, [] { qm::CLng("12abc"); },
                    [] { qm::CDbl(""); }, [] { qm::CLng(Variant(qm::Null)); }, [] { qm::CBool("maybe"); },
                    [] { qm::CSng(1e39); }, [] { qm::CDbl("&X1"); }, [] { (void)Variant(1).String(); },
                    [&] { qm::CStr(array); }, [&] { qm::CDbl(array); }}),
            (Numbers{6, 6, 6, 13, 13, 94, 13, 6, 13, 13, 13, 13}));

  // General text: the date alone at midnight, the time alone on day 0.
  const auto roundTrip = [](qm::Date date) {
    const std::string text = qm::FormatGeneralDate(date);
    EXPECT_DOUBLE_EQ(qm::CDate(Variant(text)).Serial, date.Serial) << text;
    return text;
  };
  EXPECT_EQ(Each(roundTrip, qm::MakeDate(2026, 12, 6, 14, 5, 9), qm::MakeDate(1899, 12, 30), qm::Date{2},
                 qm::Date{0.75}, qm::Date{-1.25}, qm::Date{-700.5}, qm::MakeDate(9999, 12, 31)),
            "2026-12-06 14:05:09|00:00:00|1900-01-01|18:00:00|1899-12-29 06:00:00|1898-01-29 12:00:00|9999-12-31|");
  EXPECT_DOUBLE_EQ(qm::MakeDate(1899, 12, 29, 6).Serial, -1.25);
  qm::Date out;
  for (const char* bad : {"2023-02-30", "2023-13-01 10:00:00", "2023-01-01 10:00:6x", "25:00:00"})
    EXPECT_FALSE(qm::TryParseDate(bad, out)) << bad;
  EXPECT_TRUE(qm::TryParseDate(" 2023-01-01 10:00:06 ", out));
  EXPECT_EQ(qm::FormatGeneralDate(out), "2023-01-01 10:00:06");
  EXPECT_EQ(ErrorOf([] { qm::CDate(Variant("tomorrow")); }), 13);
}

TEST(DispatchTable, PropertiesAndMethodsByNameWithoutAccessorsAndThroughVariants) {
  auto p = std::make_shared<qm::test::Person>(), f = std::make_shared<qm::test::Person>();
  const std::pair<const char*, Variant> lets[] = {{"NAME", "Ada"},    {"age", "42"},           {"Height", 1.5f},
                                                  {"Member", "True"}, {"Since", "2020-01-02"}, {"Friend", Variant(f)}};
  for (const auto& [name, value] : lets) p->Let(name, value);
  EXPECT_EQ(std::tuple(p->Name, p->Age, p->Height, p->Member, p->Friend, qm::FormatGeneralDate(p->Since)),
            std::tuple("Ada", 42, 1.5, true, f, "2020-01-02"));
  EXPECT_EQ(Show(p->Get("Badge")) + " " + Variant(p).TypeName(), "String:B42 Person");
  std::vector<Variant> args{Variant(2.0)};
  EXPECT_EQ(Show(p->Call("grow", args)), "Double:3.5");
  EXPECT_EQ(Show(args[0]), "Long:0");
  EXPECT_EQ(Raised({[&] { p->Let("Badge", "x"); }, [&] { p->Get("Missing"); }, [&] { p->Let("Age", "abc"); },
                    [&] { p->Let("Friend", Variant(std::make_shared<qm::Dispatch>())); },
                    [] { qm::CallByName(Variant(), "x"); }, [] { qm::CallByName(Variant(qm::ObjectPtr()), "x"); },
                    [] { qm::CallByName(Variant(5), "x"); }}),
            (Numbers{383, 438, 13, 13, 91, 91, 438}));
  qm::LetProperty(Variant(p), "Name", Variant("Bo"));
  EXPECT_EQ(qm::GetProperty(Variant(p), "name").String(), "Bo");
}

// Upper case maps one code point to one (no "SS"), the length in bytes free to
// change; bytes that are not UTF-8 stay as they are, the valid parts around
// them map. Equal without regard to case: letters everywhere, and the forms
// that only one of the two mappings joins (final sigma, capital sharp s, the
// Kelvin sign in three bytes against one). A Latin-1 byte is no stand-in for
// its letter, and its upper case is another byte.
TEST(Text, EveryLetterMapsAndInvalidUtf8RunsUnderEachPolicy) {
  EXPECT_EQ(qm::LCase("ÉTÉ ΣΟΦΊΑ Ђ"), "été σοφία ђ");
  EXPECT_EQ(Each(qm::UCase, "café àçñ ÿ", "straße", "ı", "日本 123 _-",
                 "a\xE9"
                 "b\xC3"),
            "CAFÉ ÀÇÑ Ÿ|STRAßE|I|日本 123 _-|A\xE9"
            "B\xC3|");
  const std::tuple<const char*, const char*, bool> pairs[] = {
      {"\xE9", "\xC9", false}, {"\xE9\x41", "\xE9\x61", true}, {"ẞ", "ß", true},
      {"\xE9", "é", false},    {"CAFÉ.TXT", "café.txt", true}, {"é", "e", false},
      {"\u212A", "k", true},   {"ΣΊΣΥΦΟΣ", "σίσυφος", true},   {"ab", "abc", false}};
  for (const auto& [a, b, equal] : pairs) EXPECT_EQ(qm::EqualsIgnoringCase(a, b), equal) << a << " " << b;
  EXPECT_EQ(qm::FoldCase("ÉCOLE"), qm::FoldCase("école"));
  EXPECT_EQ(std::tuple(qm::CompareIgnoringCase("apple", "BANANA") < 0, qm::CompareIgnoringCase("Zürich", "zurich") > 0,
                       qm::CompareIgnoringCase("ÖL", "öl"), qm::CompareIgnoringCase("ab", "ABC") < 0),
            std::tuple(true, true, 0, true));
  EXPECT_EQ(std::tuple(qm::Compare("ÉTÉ", "été", true), qm::Compare("ÉTÉ", "été") != 0, qm::SameName("Größe", "GRÖSSE"),
                       qm::SameName("Größe", "GRÖßE")),
            std::tuple(0, true, false, true));

  // The decoder is strict and each policy sees each invalid run once: `question`
  // is the text under Question ('?' is U+FFFD under Replace); Refuse names the
  // first run's byte. LCase, through NextCodePoint, keeps every byte. The runs:
  // an overlong '<'; an overlong '/' in three and four bytes, a surrogate, a value
  // past U+10FFFF; bytes no UTF-8 has, and cut sequences, inside and at the end.
  const std::tuple<std::string_view, std::string_view, const char*> rows[] = {
      {"a\xC0\xBC.", "a??.", "5: Invalid procedure call or argument: the text is not valid UTF-8 at byte 1"},
      {"\xE0\x80\xAF\xF0\x80\x80\xAF\xED\xA0\x80\xF4\x90\x80\x80", "??????????????", "byte 0"},
      {"x\xF5\x80\xFFx\xE2\x82x\xF0\x9F\x98", "x???x?x?", "byte 1"},
      {"\xF4\x8F\xBF\xBF\xEF\xBF\xBD\xC3\xA9", "\xF4\x8F\xBF\xBF\xEF\xBF\xBD\xC3\xA9", "0: no error"},
  };
  for (const auto& [text, question, refused] : rows) {
    EXPECT_EQ(qm::ValidUtf8(text, qm::InvalidUtf8::Question), question);
    EXPECT_EQ(qm::ValidUtf8(text, qm::InvalidUtf8::Replace), qm::ReplaceAll(std::string(question), "?", "\uFFFD"));
    const std::string described = qm::test::Described([text = text] { qm::ValidUtf8(text, qm::InvalidUtf8::Refuse); });
    EXPECT_NE(described.find(refused), std::string::npos) << described;
    EXPECT_EQ(qm::LCase(text), text);
  }
  // The character helpers count as NextCodePoint reads; Latin-1 gets no overlong '<'.
  const std::string s = "h\xC3\xA9llo \xE2\x82\xAC\xC0\xBC";  // "héllo €" and an overlong '<'
  EXPECT_EQ(std::tuple(qm::CharLength(s), qm::CharLeft(s, 2), qm::CharMid(s, 7, 2), qm::ToLatin1(s)),
            std::tuple(9u, "h\xC3\xA9", "\xE2\x82\xAC\xC0", "h\xE9llo ???"));
}

// Keys compare binary unless told otherwise, then in every letter.
TEST(Collection, PositionsKeysErrorsAndMembersByName) {
  qm::Collection c;
  c.Add("a", "KeyA");
  c.Add("c");
  c.Add("b", "keyB", Variant(2));                           // before position 2
  c.Add("d", std::nullopt, std::nullopt, Variant("KEYA"));  // after key "KeyA"
  ASSERT_EQ(c.Count(), 4);
  std::string order;
  for (const auto& e : c) order += e.Value.String();
  EXPECT_EQ(order, "adbc");
  EXPECT_EQ(c.Item("keya").String() + c.Item(4).String(), "ac");
  c.Remove(1);
  EXPECT_EQ(c.Item("keyb").String() + c.Item(1).String(), "bd");  // keys follow their items
  EXPECT_EQ(Raised({[&] { c.Add("x", "KEYB"); }, [&] { c.Item(0); }, [&] { c.Item("none"); }}), (Numbers{457, 9, 5}));
  EXPECT_EQ(std::pair(c.ContainsKey("keya"), qm::CLng(c.Get("Count"))), std::pair(false, 3));
  c.Call("Add", {Variant("e")});
  EXPECT_EQ(c.Enumerate().size(), 4u);

  qm::Collection letters;
  letters.Add(1, std::string("Ärger"));
  EXPECT_EQ(std::tuple(qm::CLng(letters.Item("ÄRGER")), letters.ContainsKey("ärger"),
                       ErrorOf([&] { letters.Add(2, std::string("äRGER")); })),
            std::tuple(1, true, 457));

  auto byName = std::make_shared<qm::Collection>();
  byName->Call("Add", {"a", "ka"});
  byName->Call("Add", {"b", Variant(), "KA"});     // before key "ka"
  byName->Call("Add", {"c", "kc", Variant(), 1});  // after position 1
  EXPECT_EQ(ErrorOf([&] { byName->Call("Add", {"d", Variant(), 1, 2}); }), 5);
  EXPECT_EQ(ErrorOf([&] { byName->Call("Remove", {4}); }), 9);
  byName->Call("Remove", {1});  // "b", added without a key
  qm::Collection copy;
  copy = *byName;
  byName->Clear();
  EXPECT_EQ(std::tuple(byName->Count(), Show(copy.Get("item", {"KC"})), std::as_const(copy).Item("ka").String(),
                       ErrorOf([&] { copy.Call("Remove"); })),
            std::tuple(0, "String:c", "a", 438));
}

TEST(Dictionary, KeysInInsertionOrderBinaryComparisonAndCopies) {
  qm::Dictionary d;
  d.Add("b", 1);
  d.Add("a", 2);
  d.Add(3, "three");
  EXPECT_EQ(std::tuple(d.Exists("a"), d.Exists("A"), d.Exists(3.0)), std::tuple(true, false, true));
  EXPECT_EQ(ErrorOf([&] { d.Add("a", Variant()); }), 457);
  const auto keys = d.Keys();
  EXPECT_EQ(std::tuple(keys.LBound(), keys.UBound(), Show(keys(0)), Show(d.Items()(1))),
            std::tuple(0, 2, "String:b", "Long:2"));
  d.Remove("b");
  EXPECT_EQ(std::pair(d.Keys()(0).String(), ErrorOf([&] { d.Remove("zz"); })), std::pair(std::string("a"), 32811));
  EXPECT_TRUE(d.Item("new").IsEmpty());  // reading a missing key adds it
  EXPECT_EQ(std::tuple(d.Count(), ErrorOf([&] { d.SetCompareMode(qm::TextCompare); })), std::tuple(3, 5));
  d.SetKey("a", "z");
  EXPECT_EQ(d.Keys()(0).String(), "z");

  // Copies and bulk appends keep their own index.
  qm::Dictionary a;
  a.Add("x", 1);
  qm::Dictionary b(a);
  a.Remove("x");  // the copy does not share the original's index
  EXPECT_TRUE(b.Exists("x"));
  b.Add("y", 2);
  a = b;
  EXPECT_EQ(std::pair(Show(a.Get("y")), ErrorOf([&] { a.Add("x", 3); })), std::pair(std::string("Long:2"), 457));
  qm::Dictionary c;
  for (const auto& [key, value] : {std::pair("p", 1), {"q", 2}}) c.AppendUnique({Variant(key), Variant(value)});
  EXPECT_EQ(std::pair(Show(c.Get("q")), ErrorOf([&] { c.Add("p", 0); })), std::pair(std::string("Long:2"), 457));
  c.AppendUnique({Variant("p"), Variant(9)});  // breaks the promise: reported, first one kept
  EXPECT_THROW(c.Exists("p"), qm::Error);
  EXPECT_EQ(Show(c.Get(Variant("p"))) + std::to_string(c.Count()), "Long:12");

  qm::Dictionary text;
  text.SetCompareMode(qm::TextCompare);
  text.Add("Ελλάδα", 1);
  EXPECT_EQ(std::pair(text.Exists("ΕΛΛΆΔΑ"), ErrorOf([&] { text.Add("ελλάδα", 2); })), std::pair(true, 457));
}

// Each row: Get, Let (the value last) or Call a member, and what it gives. Keys compare
// binary until CompareMode is set, which it can be only while empty.
TEST(Dictionary, MembersByNameWithDateObjectEmptyAndNullKeys) {
  qm::Dictionary d;
  qm::Dispatch& late = d;  // Dictionary::Get hides the member read by name
  const Variant day(qm::MakeDate(2024, 1, 7)), obj(std::make_shared<qm::Collection>());
  for (const auto& key : {Variant("a"), day, obj, Variant(), Variant(qm::Null)}) late.Call("Add", {key, key});
  std::vector<std::tuple<char, const char*, std::vector<Variant>, const char*>> rows{
      {'g', "Item", {qm::MakeDate(2024, 1, 7)}, "Date:2024-01-07"},
      {'g', "Keys", {}, "String:a Date:2024-01-07 Collection Empty: Null "},
      {'g', "Items", {}, "String:a Date:2024-01-07 Collection Empty: Null "},
      {'c', "Remove", {obj}, "Empty:"},
      {'c', "RemoveAll", {}, "Empty:"},
      {'g', "Count", {}, "Long:0"},
      {'l', "CompareMode", {1}, "Empty:"},
      {'g', "CompareMode", {}, "Long:1"},
      {'l', "item", {"K", "k"}, "Empty:"},
      {'c', "Exists", {"k"}, "Boolean:True"}};
  for (auto& [how, name, args, expected] : rows) {
    if (how == 'l') late.Let(name, args.back(), {args.begin(), args.end() - 1});
    EXPECT_EQ(Show(how == 'l' ? Variant() : how == 'g' ? late.Get(name, args) : late.Call(name, args)), expected);
  }
  EXPECT_EQ(std::tuple(d.CompareMode(), d.Enumerate()), std::tuple(qm::TextCompare, std::vector<Variant>{"K"}));
  EXPECT_EQ(
      Raised({[&] { late.Get("Item"); }, [&] { late.Let("Count", 1); }, [&] { late.Call("Add", {"x"}); },
              [&] { d.SetKey("zz", "y"); }, [&] { d.Add(qm::VariantArray(), day); }, [&] { d.SetKey("K", "k"); }}),
      (Numbers{438, 438, 438, 32811, 13, 457}));
}

// Components match without regard to case in every letter, the files keeping
// their own; bytes that are not UTF-8 match only themselves. Either separator,
// doubled ones, "." and ".." are taken on the name as written; absolute names
// with or without a drive, ".." never climbing above the root. The exact name
// wins, otherwise the first match in name order. A folder is no file.
TEST(WindowsPath, ComponentsSeparatorsDrivesDotsAndTheChoiceAmongMatches) {
  qm::test::ScratchDir dir;
  const fs::path& root = dir.Path();
  const fs::path sales = root / "Reports/March/Sales.txt";
  for (const char* folder : {"Bilder/Übersicht", "Reports/March"}) fs::create_directories(root / folder);
  for (const char* file : {"Bilder/Übersicht/Straße Ω.png", "r\xE9sum\xE9.gif", "Reports/March/Sales.txt",
                           "Reports/notes.txt", "Reports/NOTES.txt"})
    qm::test::WriteFile(dir / file, "x");
  qm::detail::WindowsPathResolver resolver(root);
  const auto found = [&](const std::string& name) {
    return resolver.Resolve(name).value_or("").lexically_relative(root).string();
  };
  std::string sixSales;
  for (int i = 0; i < 6; ++i) sixSales += "Reports/March/Sales.txt|";
  EXPECT_EQ(
      Each(found, "BILDER\\ÜBERSICHT\\STRAßE ω.PNG", "BILDER\\ÜBERSICHT", "BILDER\\NOWHERE\\X.PNG", "",
           "reports\\\\MARCH//./sales.TXT", "REPORTS\\Nowhere\\..\\MARCH\\SALES.TXT",
           ".\\reports\\march\\..\\March\\Sales.txt", sales.string(), "C:" + qm::detail::NativePath(sales.string()),
           "c:\\..\\.." + sales.string(), "Reports\\notes.txt", "Reports\\Notes.txt"),
      "Bilder/Übersicht/Straße Ω.png|Bilder/Übersicht|||" + sixSales + "Reports/notes.txt|Reports/NOTES.txt|");
  const auto exists = [&](const char* name) { return resolver.FileExists(name); };
  EXPECT_EQ(Each(exists, "bilder/übersicht/straße Ω.png", "BILDER\\UBERSICHT\\STRASSE Ω.PNG", "BILDER\\ÜBERSICHT",
                 "R\xE9SUM\xE9.GIF", "R\xC9SUM\xC9.GIF"),
            "true|false|false|true|false|");
  EXPECT_EQ(std::pair(resolver.Unresolved("C:\\tmp\\x.txt"), resolver.Unresolved("pics\\x.txt")),
            std::pair(fs::path("/tmp/x.txt"), root / "pics" / "x.txt"));
  EXPECT_EQ(std::tuple(qm::detail::IsDrive("z:"), qm::detail::IsDrive("1:"), qm::detail::IsDrive("C:x"),
                       qm::detail::FileNamePart("a\\b/c.png"), qm::detail::FolderPart("a\\b/c.png"),
                       qm::detail::FolderPart("c.png")),
            std::tuple(true, false, false, "c.png", "a\\b/", ""));
}

}  // namespace

// Public classes keep their state behind one private pointer (docs/abi.md):
// their size is their bases' and one pointer's, copies are deep, and an
// object moved from stays usable.

#include <gtest/gtest.h>

#include <exception>
#include <utility>

#include "quillmark/automation/XmlNode.h"
#include "quillmark/automation/XmlQuery.h"
#include "quillmark/compression/Compress.h"
#include "quillmark/compression/Zipper.h"
#include "quillmark/errors/Error.h"
#include "quillmark/graphics/CanvasSurface.h"
#include "quillmark/graphics/DIBSection.h"
#include "quillmark/graphics/DeviceContext.h"
#include "quillmark/html/HTMLDoc.h"
#include "quillmark/html/HtmlPage.h"
#include "quillmark/html/PrintSettings.h"
#include "quillmark/html/Typographer.h"
#include "quillmark/persistence/PersistanceContext.h"
#include "quillmark/persistence/QMStream.h"
#include "quillmark/persistence/Records.h"
#include "quillmark/runtime/Collection.h"
#include "quillmark/runtime/Dictionary.h"
#include "quillmark/runtime/Settings.h"
#include "quillmark/runtime/TextStream.h"
#include "quillmark/utility/OLEStreamWriter.h"
#include "quillmark/utility/TemporaryFile.h"
#include "quillmark/values/Conversions.h"

namespace {

// The same bases and one pointer: what each class may hold.
template <class... Bases>
struct OnePointer : Bases... {
  void* impl;
};
struct VirtualObject : virtual qm::Object {};

TEST(PrivateState, PublicClassesHoldOnePointerBesideTheirBases) {
  const struct {
    const char* name;
    std::size_t size, expected;
  } rows[] = {
      {"Error", sizeof(qm::Error), sizeof(OnePointer<std::exception>)},
      {"XmlParseError", sizeof(qm::XmlParseError), sizeof(OnePointer<qm::Error>)},
      {"Bitmap", sizeof(qm::Bitmap), sizeof(void*)},
      {"DeviceContext", sizeof(qm::DeviceContext), sizeof(OnePointer<qm::Object>)},
      {"clsDIBSection", sizeof(qm::clsDIBSection), sizeof(void*)},
      {"CanvasSurface", sizeof(qm::CanvasSurface), sizeof(OnePointer<qm::Dispatch>)},
      {"Collection", sizeof(qm::Collection), sizeof(OnePointer<qm::Dispatch>)},
      {"Dictionary", sizeof(qm::Dictionary), sizeof(OnePointer<qm::Dispatch>)},
      {"QMStream", sizeof(qm::QMStream), sizeof(OnePointer<qm::Dispatch>)},
      {"TextStream", sizeof(qm::TextStream), sizeof(OnePointer<VirtualObject>)},
      {"SettingsWatch", sizeof(qm::SettingsWatch), sizeof(void*)},
      {"HTMLDoc", sizeof(qm::HTMLDoc), sizeof(OnePointer<VirtualObject>)},
      {"HtmlPage", sizeof(qm::HtmlPage), sizeof(void*)},
      {"PrintSettings", sizeof(qm::PrintSettings), sizeof(OnePointer<qm::DispatchTable<qm::PrintSettings>>)},
      {"PersistanceContext", sizeof(qm::PersistanceContext), sizeof(OnePointer<VirtualObject>)},
      {"RecordLayout", sizeof(qm::RecordLayout), sizeof(void*)},
      {"XmlNode", sizeof(qm::XmlNode), sizeof(OnePointer<qm::Object>)},
      {"Compress", sizeof(qm::Compress), sizeof(OnePointer<VirtualObject>)},
      {"Zipper", sizeof(qm::Zipper), sizeof(OnePointer<VirtualObject>)},
      {"TemporaryFile", sizeof(qm::TemporaryFile), sizeof(OnePointer<VirtualObject>)},
      {"OLEStreamWriter", sizeof(qm::OLEStreamWriter), sizeof(OnePointer<VirtualObject>)},
  };
  for (const auto& row : rows) EXPECT_EQ(row.size, row.expected) << row.name;
}

TEST(PrivateState, CopiesAreDeepAndObjectsMovedFromStayUsable) {
  qm::Error error(53, qm::errc::io_error, "Module", "File not found");
  qm::Error copy = error;
  copy.AppendElement("Caller");
  copy.SetErrc(qm::errc::not_found);
  EXPECT_EQ(error.Source(), "Module");
  EXPECT_EQ(error.Errc(), qm::errc::io_error);
  EXPECT_EQ(copy.Source(), "Module|Caller");
  const qm::Error moved = std::move(error);
  EXPECT_EQ(moved.Number(), 53);
  EXPECT_STREQ(error.what(), "");  // NOLINT(bugprone-use-after-move): the moved-from state is what is tested
  error.SetSource("again");
  EXPECT_EQ(error.Source(), "again");

  qm::Collection items;
  items.Add(qm::Variant(1), "one");
  qm::Collection itemsCopy = items;
  itemsCopy.Add(qm::Variant(2));
  EXPECT_EQ(items.Count(), 1);
  qm::Collection itemsMoved = std::move(items);
  EXPECT_EQ(items.Count(), 0);  // NOLINT(bugprone-use-after-move)
  EXPECT_FALSE(items.ContainsKey("one"));
  items.Add(qm::Variant(3), "one");
  EXPECT_EQ(itemsMoved.Count() + items.Count(), 2);

  qm::Dictionary pairs;
  pairs.Add(qm::Variant("a"), qm::Variant(1));
  qm::Dictionary pairsMoved = std::move(pairs);
  EXPECT_FALSE(pairs.Exists(qm::Variant("a")));  // NOLINT(bugprone-use-after-move)
  pairs.Add(qm::Variant("a"), qm::Variant(2));
  EXPECT_EQ(qm::CLng(pairsMoved.Get(qm::Variant("a"))), 1);

  qm::HtmlPage page("Title");
  qm::HtmlPage pageCopy = page;
  pageCopy.Paragraph("only in the copy");
  EXPECT_EQ(page.Text().find("only in the copy"), std::string::npos);
  EXPECT_NE(pageCopy.Text().find("<title>Title</title>"), std::string::npos);
}

}  // namespace

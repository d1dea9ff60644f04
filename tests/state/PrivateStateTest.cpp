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
  EXPECT_EQ(sizeof(qm::Error), sizeof(OnePointer<std::exception>));
  EXPECT_EQ(sizeof(qm::XmlParseError), sizeof(OnePointer<qm::Error>));
  EXPECT_EQ(sizeof(qm::Bitmap), sizeof(void*));
  EXPECT_EQ(sizeof(qm::DeviceContext), sizeof(OnePointer<qm::Object>));
  EXPECT_EQ(sizeof(qm::clsDIBSection), sizeof(void*));
  EXPECT_EQ(sizeof(qm::CanvasSurface), sizeof(OnePointer<qm::Dispatch>));
  EXPECT_EQ(sizeof(qm::Collection), sizeof(OnePointer<qm::Dispatch>));
  EXPECT_EQ(sizeof(qm::Dictionary), sizeof(OnePointer<qm::Dispatch>));
  EXPECT_EQ(sizeof(qm::QMStream), sizeof(OnePointer<qm::Dispatch>));
  EXPECT_EQ(sizeof(qm::TextStream), sizeof(OnePointer<VirtualObject>));
  EXPECT_EQ(sizeof(qm::SettingsWatch), sizeof(void*));
  EXPECT_EQ(sizeof(qm::HTMLDoc), sizeof(OnePointer<VirtualObject>));
  EXPECT_EQ(sizeof(qm::HtmlPage), sizeof(void*));
  EXPECT_EQ(sizeof(qm::PrintSettings), sizeof(OnePointer<qm::DispatchTable<qm::PrintSettings>>));
  EXPECT_EQ(sizeof(qm::PersistanceContext), sizeof(OnePointer<VirtualObject>));
  EXPECT_EQ(sizeof(qm::RecordLayout), sizeof(void*));
  EXPECT_EQ(sizeof(qm::XmlNode), sizeof(OnePointer<qm::Object>));
  EXPECT_EQ(sizeof(qm::Compress), sizeof(OnePointer<VirtualObject>));
  EXPECT_EQ(sizeof(qm::Zipper), sizeof(OnePointer<VirtualObject>));
  EXPECT_EQ(sizeof(qm::TemporaryFile), sizeof(OnePointer<VirtualObject>));
  EXPECT_EQ(sizeof(qm::OLEStreamWriter), sizeof(OnePointer<VirtualObject>));
}

TEST(PrivateState, CopiesAreDeepAndObjectsMovedFromStayUsable) {
  qm::Error error(53, qm::errc::io_error, "Module", "File not found");
  qm::Error copy = error;
  copy.AppendElement("Caller");
  copy.SetErrc(qm::errc::not_found);
  EXPECT_EQ(error.Source(), "Module");
  EXPECT_EQ(error.Errc(), qm::errc::io_error);
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
  EXPECT_EQ(items.Count(), 0);       // NOLINT(bugprone-use-after-move)
  items.Add(qm::Variant(3), "one");  // the key is free again
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
}

}  // namespace

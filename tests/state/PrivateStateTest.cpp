// Public classes keep their state behind one private pointer (docs/abi.md):
// their size is their bases' and one pointer's, copies are deep, and an
// object moved from stays usable.

#include <gtest/gtest.h>

#include <exception>
#include <typeinfo>
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

// Each class the size of `Shape`, named in the message when it is not.
template <class Shape, class... Classes>
void SizeOf() {
  ([] { EXPECT_EQ(sizeof(Classes), sizeof(Shape)) << typeid(Classes).name(); }(), ...);
}

TEST(PrivateState, PublicClassesHoldOnePointerBesideTheirBases) {
  SizeOf<void*, qm::Bitmap, qm::clsDIBSection, qm::SettingsWatch, qm::HtmlPage, qm::RecordLayout>();
  SizeOf<OnePointer<std::exception>, qm::Error>();
  SizeOf<OnePointer<qm::Error>, qm::XmlParseError>();
  SizeOf<OnePointer<qm::Object>, qm::DeviceContext, qm::XmlNode>();
  SizeOf<OnePointer<qm::Dispatch>, qm::CanvasSurface, qm::Collection, qm::Dictionary, qm::QMStream>();
  SizeOf<OnePointer<qm::DispatchTable<qm::PrintSettings>>, qm::PrintSettings>();
  SizeOf<OnePointer<VirtualObject>, qm::TextStream, qm::HTMLDoc, qm::PersistanceContext, qm::Compress, qm::Zipper,
         qm::TemporaryFile, qm::OLEStreamWriter>();
}

TEST(PrivateState, CopiesAreDeepAndObjectsMovedFromStayUsable) {
  qm::Error error(53, qm::errc::io_error, "Module", "File not found");
  qm::Error copy = error;
  copy.AppendElement("Caller");
  copy.SetErrc(qm::errc::not_found);
  EXPECT_EQ(std::pair(error.Source(), error.Errc()), std::pair(std::string("Module"), qm::errc::io_error));
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

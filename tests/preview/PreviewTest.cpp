#include <QCursor>
#include <QMouseEvent>
#include <QTest>
#include <QToolButton>
#include <array>

#include "preview/PreviewSupport.h"
#include "quillmark/errors/Error.h"
#include "quillmark/html/HTMLDoc.h"
#include "quillmark/ui/Control.h"
#include "quillmark/ui/HTMLDisplay.h"
#include "quillmark/ui/Layout.h"
#include "quillmark/values/Conversions.h"
#include "support/ErrorOf.h"
#include "ui/preview/HTMLPreview.h"
#include "ui/preview/WebView.h"
#include "ui/preview/frmPreview.h"

namespace {

using qm::test::OnModal;
using qm::ui::frmPreview;
using qm::ui::GetTwips;
using qm::ui::HTMLPreview;

class PreviewWindowTest : public qm::test::UiTest {
 protected:
  qm::test::ScratchDir dir_;
  const std::string page_ = qm::test::WriteReport(dir_);
};

// Runs `show`, which opens the preview; returns the buttons the preview
// offered, and notes the text it showed in `text`.
std::string Offered(const std::function<void()>& show, std::string* text = nullptr) {
  std::string shown;
  OnModal("frmPreview", [&](QWidget& window) {
    HTMLPreview* preview = frmPreview::Instance().Preview();
    for (QToolButton* b : preview->picTools->findChildren<QToolButton*>())
      if (b->isVisibleTo(&window) && b->isEnabled()) shown += b->objectName().toStdString() + " ";
    if (text) *text = preview->webView->toPlainText().toStdString();
    preview->cmdClose->click();
  });
  show();
  return shown;
}

TEST_F(PreviewWindowTest, ShowChoosesTheToolBarPrintsAndRefusesAMissingPage) {
  const auto showWith = [&](std::int16_t buttons) {
    return Offered([&] { qm::ui::HTMLDisplay().Show(page_, nullptr, false, buttons); });
  };
  // Page Setup is disabled and hidden from the start.
  EXPECT_EQ(showWith(0), "cmdPrint cmdSaveAs cmdEmail cmdWord cmdClose ");
  EXPECT_EQ(showWith(1), "cmdPrint cmdClose ");
  EXPECT_EQ(showWith(2), "cmdClose ");
  // Closing unloads the shared form; the next Show loads a fresh one.
  EXPECT_EQ(frmPreview::Instance().Window(), nullptr);

  // A document shown as an application shows it: through the Qt desktop.
  qm::HTMLDoc doc;
  doc.BeginDoc("Orders");
  doc.BeginBody();
  doc.BodyText("Seven orders wait");
  std::string text;
  EXPECT_EQ(Offered([&] { doc.Show(nullptr, false, 1); }, &text), "cmdPrint cmdClose ");
  EXPECT_NE(text.find("Seven orders wait"), std::string::npos) << text;

  // Print then close: the print dialog opens over the preview, which then closes.
  bool dialog = false;
  OnModal("QPrintDialog", [&](QWidget& w) {
    dialog = true;
    EXPECT_NE(frmPreview::Instance().Window(), nullptr);
    static_cast<QDialog&>(w).reject();
  });
  qm::ui::HTMLDisplay().Show(page_, nullptr, true);
  EXPECT_TRUE(dialog);
  EXPECT_EQ(frmPreview::Instance().Window(), nullptr);

  const qm::Error e = qm::test::RaisedBy([&] { qm::ui::HTMLDisplay().Show(dir_ / "nothere.html", nullptr, false, 0); });
  EXPECT_EQ(e.Number(), 53);
  EXPECT_NE(e.Source().find("[HTMLPreview]Public Sub OpenDoc(\"" + (dir_ / "nothere.html") + "\", ?)"),
            std::string::npos)
      << e.Source();
  EXPECT_NE(e.Source().find("[HTMLDisplay]Public Sub Show("), std::string::npos) << e.Source();
  EXPECT_EQ(frmPreview::Instance().Window(), nullptr);
}

TEST_F(PreviewWindowTest, TheViewShowsThePageAndFollowsTheResize) {
  const double px = qm::ui::TwipsPerPixelX();
  HTMLPreview preview;
  preview.OpenDoc(page_, nullptr);
  EXPECT_TRUE(preview.webView->toPlainText().contains("Third page text"));
  // The picture is named in another case, with "\".
  EXPECT_FALSE(preview.webView->loadResource(QTextDocument::ImageResource, QUrl("PICS\\CHART.PNG")).isNull());
  EXPECT_TRUE(preview.webView->loadResource(QTextDocument::ImageResource, QUrl("missing/gone.gif")).isNull());

  preview.show();
  qm::ui::SetTwips(preview, {0, 0, 600 * px, 400 * px});
  QApplication::processEvents();
  EXPECT_EQ(GetTwips(*preview.webView).Width, 600 * px);         // inner width - view left (0)
  EXPECT_EQ(GetTwips(*preview.webView).Height, 400 * px - 720);  // inner height - view top
  EXPECT_EQ(GetTwips(*preview.picTools).Width, 600 * px);
  EXPECT_EQ(GetTwips(*preview.cmdClose).Left, 600 * px - 795 - 4 * px);

  // Smaller than the tool bar: everything stays at least 1 twip.
  qm::ui::SetTwips(preview, {0, 0, 20 * px, 20 * px});
  QApplication::processEvents();
  EXPECT_EQ(GetTwips(*preview.cmdClose).Left, 1);
  EXPECT_GE(GetTwips(*preview.webView).Height, 1);

  // The form sizes the control to its inner size less the layout pads and the gap, at least 1 twip.
  EXPECT_EQ(frmPreview::ControlWidth(10, 60), 1);
  EXPECT_EQ(frmPreview::ControlHeight(10, 60), 1);
  OnModal("frmPreview", [&](QWidget& window) {
    window.resize(700, 500);
    QApplication::processEvents();
    const auto control = GetTwips(*frmPreview::Instance().Preview());
    EXPECT_EQ((std::array{control.Left, control.Width, control.Height}),
              (std::array{60.0, 700 * px - qm::CDbl(qm::ui::Layout::LAYOUT_WIDTH_PAD()) - 60,
                          500 * qm::ui::TwipsPerPixelY() - qm::ui::Layout::LAYOUT_HEIGHT_PAD() - 60}));
    window.close();  // through the frame: unloads as Close does
  });
  qm::ui::HTMLDisplay().Show(page_, nullptr);
  EXPECT_EQ(frmPreview::Instance().Window(), nullptr);
}

// Notes where the button events that reach a widget land, in global coordinates.
class ClickSpy : public QObject {
 public:
  std::vector<std::pair<QEvent::Type, QPoint>> Clicks;

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonRelease)
      Clicks.emplace_back(event->type(), static_cast<QMouseEvent*>(event)->globalPosition().toPoint());
    return false;
  }
};

TEST_F(PreviewWindowTest, PrintDocClicksIntoTheViewAndSendsCtrlP) {
  if (QGuiApplication::platformName() != QLatin1String("offscreen")) GTEST_SKIP() << "needs the offscreen platform";
  HTMLPreview preview;
  preview.setGeometry(40, 30, 500, 400);
  preview.show();
  preview.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&preview));
  preview.OpenDoc(page_, nullptr);
  ClickSpy spy;
  preview.webView->viewport()->installEventFilter(&spy);
  int printed = 0;
  preview.Printed = [&] { ++printed; };
  QCursor::setPos(7, 9);
  preview.PrintDoc();
  EXPECT_EQ(printed, 1);
  EXPECT_EQ(QApplication::focusWidget(), preview.webView);

  // A click at the view's centre, and the pointer back where it was.
  const QRect view(preview.webView->mapToGlobal(QPoint(0, 0)), preview.webView->size());
  ASSERT_EQ(spy.Clicks.size(), 2u);
  EXPECT_EQ(spy.Clicks[0].first, QEvent::MouseButtonPress);
  EXPECT_EQ(spy.Clicks[1].first, QEvent::MouseButtonRelease);
  EXPECT_LE((spy.Clicks[0].second - view.center()).manhattanLength(), 2);
  EXPECT_EQ(QCursor::pos(), QPoint(7, 9));

  // Ctrl+P reaches the view once events run, and opens the print dialog.
  bool dialog = false;
  OnModal("QPrintDialog", [&](QWidget& w) {
    dialog = true;
    static_cast<QDialog&>(w).reject();
  });
  for (int i = 0; i < 50 && !dialog; ++i) QApplication::processEvents(QEventLoop::AllEvents, 20);
  EXPECT_TRUE(dialog);
}

}  // namespace

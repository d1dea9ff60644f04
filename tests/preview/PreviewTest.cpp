#include <QCursor>
#include <QStandardPaths>
#include <QTest>
#include <QThread>
#include <QToolButton>
#include <array>
#include <cmath>
#include <iterator>
#include <regex>

#include "DemoChart.h"
#include "preview/PreviewSupport.h"
#include "quillmark/graphics/Graphics.h"
#include "quillmark/graphics/Picture.h"
#include "quillmark/html/HTMLDoc.h"
#include "quillmark/ui/Control.h"
#include "quillmark/ui/HTMLDisplay.h"
#include "quillmark/ui/Layout.h"
#include "quillmark/ui/PictureSurface.h"
#include "quillmark/values/Conversions.h"
#include "support/ErrorTrail.h"
#include "ui/preview/HTMLPreview.h"
#include "ui/preview/WebView.h"
#include "ui/preview/WordProcessor.h"
#include "ui/preview/frmPreview.h"

namespace {

namespace fs = std::filesystem;
using namespace qm::test;
using qm::Variant;
using qm::ui::frmPreview;
using qm::ui::GetTwips;
using qm::ui::HTMLPreview;
using qm::ui::PictureSurface;

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

class PreviewWindowTest : public UiTest {
 protected:
  ScratchDir dir_;
  const std::string page_ = WriteReport(dir_);
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

// Notes the button presses and releases that reach a widget, and where they
// land in global coordinates.
class ClickSpy : public QObject {
 public:
  std::vector<std::pair<QEvent::Type, QPoint>> Events;

 protected:
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == QEvent::MouseButtonPress || e->type() == QEvent::MouseButtonRelease)
      Events.emplace_back(e->type(), static_cast<QMouseEvent*>(e)->globalPosition().toPoint());
    return false;
  }
};

TEST_F(PreviewWindowTest, ShowChoosesTheToolBarPrintsRefusesAMissingPageAndTheViewFollowsTheResizeAndPrintDoc) {
  // Page Setup is disabled and hidden from the start.
  std::string offered;
  for (const std::int16_t buttons : {0, 1, 2})
    offered += Offered([&] { qm::ui::HTMLDisplay().Show(page_, nullptr, false, buttons); }) + "| ";
  EXPECT_EQ(offered, "cmdPrint cmdSaveAs cmdEmail cmdWord cmdClose | cmdPrint cmdClose | cmdClose | ");
  // Closing unloads the shared form; the next Show loads a fresh one.
  EXPECT_EQ(frmPreview::Instance().Window(), nullptr);

  // A document shown as an application shows it: through the Qt desktop.
  qm::HTMLDoc doc;
  doc.BodyText("Seven orders wait");
  std::string text;
  EXPECT_EQ(Offered([&] { doc.Show(nullptr, false, 1); }, &text), "cmdPrint cmdClose ");
  EXPECT_TRUE(Contains(text, "Seven orders wait")) << text;

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

  const std::string missing = "\"" + (dir_ / "nothere.html") + "\", ?";
  EXPECT_EQ(Trail([&] { qm::ui::HTMLDisplay().Show(dir_ / "nothere.html", nullptr, false, 0); }),
            "53: File not found @ QuillmarkLibrary.HTMLPreview|[HTMLPreview]Public Sub OpenDoc(" + missing +
                ")|[frmPreview]Public Sub Use(" + missing + ", 0)|[HTMLDisplay]Public Sub Show(" + missing +
                ", False, 0)");
  EXPECT_EQ(frmPreview::Instance().Window(), nullptr);

  // The view shows the page and follows the resize; PrintDoc clicks into it and sends Ctrl+P.
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
  // The view: the inner width less its left (0), the inner height less its top.
  // The tool bar as wide, the close button at its right end.
  EXPECT_EQ((std::array{GetTwips(*preview.webView).Width, GetTwips(*preview.webView).Height,
                        GetTwips(*preview.picTools).Width, GetTwips(*preview.cmdClose).Left}),
            (std::array{600 * px, 400 * px - 720, 600 * px, 600 * px - 795 - 4 * px}));

  // Smaller than the tool bar: everything stays at least 1 twip.
  qm::ui::SetTwips(preview, {0, 0, 20 * px, 20 * px});
  QApplication::processEvents();
  EXPECT_TRUE(GetTwips(*preview.cmdClose).Left == 1 && GetTwips(*preview.webView).Height >= 1);

  // The form sizes the control to its inner size less the layout pads and the gap, at least 1 twip.
  EXPECT_EQ(std::pair(frmPreview::ControlWidth(10, 60), frmPreview::ControlHeight(10, 60)), std::pair(1.0, 1.0));
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

  if (QGuiApplication::platformName() != QLatin1String("offscreen")) GTEST_SKIP() << "needs the offscreen platform";
  preview.setGeometry(40, 30, 500, 400);
  preview.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&preview));
  ClickSpy spy;
  preview.webView->viewport()->installEventFilter(&spy);
  int printed = 0;
  preview.Printed = [&] { ++printed; };
  QCursor::setPos(7, 9);
  preview.PrintDoc();
  EXPECT_EQ(std::pair(printed, QApplication::focusWidget()), std::pair(1, static_cast<QWidget*>(preview.webView)));

  // A click at the view's centre, and the pointer back where it was.
  const QPoint centre = preview.webView->mapToGlobal(preview.webView->rect().center());
  ASSERT_EQ(spy.Events.size(), 2u);
  EXPECT_EQ(std::pair(spy.Events[0].first, spy.Events[1].first),
            std::pair(QEvent::MouseButtonPress, QEvent::MouseButtonRelease));
  EXPECT_LE((spy.Events[0].second - centre).manhattanLength(), 2);  // the middle, rounded
  EXPECT_EQ(QCursor::pos(), QPoint(7, 9));

  // Ctrl+P reaches the view once events run, and opens the print dialog.
  dialog = false;
  OnModal("QPrintDialog", [&](QWidget& w) {
    dialog = true;
    static_cast<QDialog&>(w).reject();
  });
  for (int i = 0; i < 50 && !dialog; ++i) QApplication::processEvents(QEventLoop::AllEvents, 20);
  EXPECT_TRUE(dialog);
}

QRgb At(PictureSurface& surface, double xTwips, double yTwips) {
  return surface.Image().pixel(static_cast<int>(xTwips / qm::ui::TwipsPerPixelX()),
                               static_cast<int>(yTwips / qm::ui::TwipsPerPixelY()));
}

TEST_F(UiTest, PictureSurfaceMembersByNameCopyPicturesTheWidgetAndTheDemoChartSaved) {
  const double px = qm::ui::TwipsPerPixelX(), py = qm::ui::TwipsPerPixelY();
  PictureSurface surface(100, 80);
  qm::Dispatch& picture = surface;
  EXPECT_EQ(std::pair(qm::CDbl(picture.Get("Width")), At(surface, 0, 0)), std::pair(100 * px, qRgb(255, 255, 255)));

  // A filled box in red (0x00BBGGRR), relative to the current position.
  picture.Let("CurrentX", Variant(10 * px));
  picture.Let("CurrentY", Variant(10 * py));
  picture.Call("Line", {1 + 2 + 4 + 8, 0, 0, 20 * px, 10 * py, 0x0000FF});
  EXPECT_EQ(std::pair(qm::CDbl(picture.Get("CurrentX")), qm::CDbl(picture.Get("CurrentY"))),
            std::pair(30 * px, 20 * py));  // the second corner

  // Invert turns white black and red cyan (GraphicsTest pins that the mode is put back).
  qm::Graphics().Line2(picture, 0, 15 * py, 99 * px, 15 * py, 0, qm::vbInvert);
  // A circle passes through its radius, not its centre.
  qm::Graphics().Circle2(picture, Variant(60 * px), Variant(50 * py), Variant(10 * px), Variant(0xFF0000));
  // In the box and beside it; the inverted line on white and on the box; the circle's edge and centre.
  EXPECT_EQ((std::vector{At(surface, 15 * px, 12 * py), At(surface, 31 * px, 12 * py), At(surface, 5 * px, 15 * py),
                         At(surface, 15 * px, 15 * py), At(surface, 70 * px, 50 * py), At(surface, 60 * px, 50 * py)}),
            (std::vector{qRgb(255, 0, 0), qRgb(255, 255, 255), qRgb(0, 0, 0), qRgb(0, 255, 255), qRgb(0, 0, 255),
                         qRgb(255, 255, 255)}));

  // Text extents are whole pixels; printing moves the position.
  const double width = qm::CDbl(picture.Call("TextWidth", {Variant("Hi")}));
  const double height = qm::CDbl(picture.Call("TextHeight", {Variant("Hi")}));
  EXPECT_TRUE(width > 0 && std::fmod(width, px) == 0) << width;
  EXPECT_EQ(qm::CDbl(picture.Call("TextHeight", {Variant("a\nb")})), 2 * height);
  qm::Graphics().Text(picture, "Hi", Variant(false), Variant(5 * px), Variant(60 * py));
  EXPECT_EQ(qm::CDbl(picture.Get("CurrentX")), 5 * px + width);

  // Read-only and missing members.
  EXPECT_EQ(std::pair(ErrorOf([&] { picture.Let("Width", Variant(5)); }), ErrorOf([&] { picture.Call("Scale", {}); })),
            std::pair(383, 438));
  EXPECT_THROW(PictureSurface(0, 10), qm::Error);

  // CopyPictures, the widget shows what is drawn, and the demo chart is saved.
  PictureSurface source(20, 10), dest(60, 40);
  source.BackColor = 0x00FF00;
  source.Cls();
  qm::Graphics().CopyPictures(source, dest, qm::AlignRight | qm::AlignBottom);
  EXPECT_EQ(std::pair(dest.Image().pixel(40, 30), dest.Image().pixel(39, 30)),
            std::pair(qRgb(0, 255, 0), qRgb(255, 255, 255)));

  qm::ui::PictureBox box;
  box.resize(120, 90);
  box.show();
  auto& shown = *box.Surface();
  EXPECT_GE(shown.Image().width(), 120);
  qm::Graphics().BoxFill(shown, 0, 0, shown.Width(), shown.Height(), 0x0000FF);
  EXPECT_EQ(box.grab().toImage().pixel(60, 45), qRgb(255, 0, 0));

  PictureSurface drawn(480, 240);
  qm::example::DrawDemoChart(drawn);
  EXPECT_FALSE(drawn.Image() == PictureSurface(480, 240).Image()) << "nothing drawn";
  ScratchDir dir;
  drawn.SavePicture(dir / "chart.png");
  drawn.SavePicture(dir / "Chart.BMP");
  EXPECT_EQ(std::pair(qm::LoadPicture(dir / "chart.png")->Width(), qm::LoadPicture(dir / "Chart.BMP")->Width()),
            std::pair(480, 480));
  // A save that fails (no folder, no such format) never leaves a cut-short file, nor any beside the pictures.
  WriteFile(dir / "old.xyz", "old");
  EXPECT_EQ(std::pair(ErrorOf([&] { drawn.SavePicture(dir / "no/such/folder/chart.png"); }),
                      ErrorOf([&] { drawn.SavePicture(dir / "old.xyz"); })),
            std::pair(75, 75));
  EXPECT_EQ(ReadFile(dir / "old.xyz"), "old");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), {}), 3);
}

// The first surface of a process is made before Qt runs; it measures text in
// the application's font as every later one does. Run in a process of its
// own when a Qt application exists already.
TEST(PictureSurfaceFont, TheFirstSurfaceMeasuresAsTheSecond) {
  if (QCoreApplication::instance()) {
    const std::string self = fs::read_symlink("/proc/self/exe").string();
    const std::string out = Output("'" + self + "' --gtest_filter=PictureSurfaceFont.* 2>&1; echo status=$?");
    EXPECT_TRUE(Contains(out, "[  PASSED  ] 1 test.") && Contains(out, "status=0")) << out;
    return;
  }
  PictureSurface first(10, 10), second(10, 10);
  EXPECT_GT(first.TextHeight("ABC"), 0);
  EXPECT_EQ(std::pair(first.TextWidth("ABC"), first.TextHeight("ABC")),
            std::pair(second.TextWidth("ABC"), second.TextHeight("ABC")));
}

// The report, message boxes recorded, and stand-in programs in bin_: an
// soffice that keeps the page it is given (given.html) and writes a .doc, and
// a mail program that keeps what it is given.
class PreviewActionsTest : public PreviewWindowTest {
 protected:
  void SetUp() override {
    PreviewWindowTest::SetUp();
    const std::string d = dir_.Path().string();
    WriteScript(bin_ / "soffice",
                "out=; for a in \"$@\"; do [ \"$prev\" = --outdir ] && out=$a; prev=$a; page=$a; done\ncp \"$page\" '" +
                    d + "/given.html'\necho \"$@\" > '" + d +
                    "/args'\nmkdir -p \"$out\" && echo DOC > \"$out/document.doc\"\n");
    WriteScript(bin_ / "xdg-email", "cp \"$4\" '" + d + "/attached'\necho \"$1 $3 $# ${4##*/}\" > '" + d + "/mail'\n");
  }

  ScratchDir bin_;
  RecordingScope desktop_;
};

TEST_F(PreviewActionsTest, SaveAsWritesAWebArchiveAndEmailAttachesItAsDocumentRptOrSaysWhatFailed) {
  {
    HTMLPreview preview;
    preview.OpenDoc(page_, nullptr);
    AnswerSaveDialog("");
    preview.SaveAs();
    EXPECT_FALSE(fs::exists(dir_ / "report.mht"));
    AnswerSaveDialog(dir_ / "report.mht");
    preview.SaveAs();
    // Python's email package reads it: the page and its picture.
    const std::string check = "python3 '" + (SourceDir() / "tests/html/check_mht.py").string() + "' '" +
                              (dir_ / "report.mht") + "' text/iso-8859-1 http://localhost/report.html '" + page_ +
                              "' binary http://localhost/PICS/CHART.PNG '" + (dir_ / "pics/Chart.png") + "'";
    EXPECT_EQ(std::system(check.c_str()), 0) << ReadFile(dir_ / "report.mht").substr(0, 600);
    PathScope path(bin_.Path(), false);
    preview.Email();
  }
  ASSERT_TRUE(fs::exists(HTMLPreview::MailFile()));
  // The program runs detached: wait for what it was given.
  for (int i = 0; i < 200 && ReadFile(dir_ / "mail").empty(); ++i) QThread::msleep(10);
  EXPECT_EQ(ReadFile(dir_ / "mail"), "--body --attach 4 Document.rpt\n");
  EXPECT_EQ(ReadFile(dir_ / "attached"), ReadFile(HTMLPreview::MailFile()));

  // A new preview signs on again: no mail program now; then no page to pack.
  HTMLPreview preview;
  preview.OpenDoc(page_, nullptr);
  {
    ScratchDir empty;
    PathScope path(empty.Path(), true);
    preview.Email();
  }
  fs::remove(page_);
  preview.Email();
  // Both with an exclamation (48).
  EXPECT_EQ(desktop_->Messages,
            (std::vector<std::string>{"Microsoft Outlook could not be started. Confirm that it has been correctly "
                                      "installed on your computer. 48",
                                      "Could not send mail: File not found: " + page_ + " 48"}));
}

// The Word export: through a stand-in soffice (the page it is given), its
// failures, and then with the real LibreOffice Writer (skipped when it is not
// installed; scripts/test --full installs it).
TEST_F(PreviewActionsTest, PageSetupPicturesCancelFailuresAndTheRealWriter) {
  HTMLPreview preview;
  // Exports the report with `settings` to `name` ("" cancels); returns the
  // page the word processor was last given.
  const auto exportWith = [&](const std::shared_ptr<qm::PrintSettings>& settings, const std::string& name) {
    preview.OpenDoc(page_, settings);
    AnswerSaveDialog(name.empty() ? name : dir_ / name);
    preview.OpenInWord();
    return ReadFile(dir_ / "given.html");
  };
  auto settings = std::make_shared<qm::PrintSettings>();
  settings->SetOrientation(qm::ORI_Landscape);
  settings->SetMargins(10, 20, 30, 40.5);
  {
    PathScope path(bin_.Path(), false);
    EXPECT_EQ(exportWith(nullptr, ""), "");  // cancelled: no word processor runs
    const std::string given = exportWith(settings, "out.doc");
    EXPECT_EQ(ReadFile(dir_ / "out.doc"), "DOC\n");
    EXPECT_TRUE(Contains(ReadFile(dir_ / "args"), "--convert-to doc:MS Word 97")) << ReadFile(dir_ / "args");
    // The page rule; the picture in the document; a broken link stays a link; Writer reads style sheets.
    for (const char* part :
         {"<STYLE>@page { size: landscape; margin-top: 10pt; margin-bottom: 40.5pt; margin-right: "
          "30pt; margin-left: 20pt; }</STYLE>\r\n<META ",
          "src=\"data:image/png;base64,iVBOR", "src=\"missing/gone.gif\"", "H6 { page-break-before: always }"})
      EXPECT_TRUE(Contains(given, part)) << part << " in " << given;
    EXPECT_EQ(preview.DocumentFile, page_);

    // Portrait only touches no margins; without settings there is no page rule at all.
    auto portrait = std::make_shared<qm::PrintSettings>();
    portrait->SetOrientation(qm::ORI_Portrait);
    EXPECT_TRUE(Contains(exportWith(portrait, "portrait.doc"), "<STYLE>@page { size: portrait; }</STYLE>"));
    EXPECT_FALSE(Contains(exportWith(nullptr, "plain.doc"), "@page"));
  }
  {
    ScratchDir empty;
    PathScope path(empty.Path(), true);  // no LibreOffice
    exportWith(nullptr, "nooffice.doc");
    EXPECT_EQ(RaisedBy([] { qm::ui::WordProcessor::Start(); }).code(), qm::errc::unavailable);
  }
  {
    // An installation with Calc but not Writer: the message names Writer.
    ScratchDir office, links;
    fs::create_directories(office / "program");
    WriteFile(office / "program/fundamentalrc", "[Bootstrap]\n");
    WriteScript(office / "program/soffice", "touch '" + (dir_ / "ran") + "'\n");
    fs::create_symlink(office / "program/soffice", links / "soffice");
    PathScope path(links.Path(), true);
    exportWith(nullptr, "nowriter.doc");  // refused with the message below, as unavailable as no LibreOffice
    EXPECT_FALSE(fs::exists(dir_ / "ran"));
    // With Writer's library the same installation is started.
    WriteFile(office / "program/libswlo.so", "");
    EXPECT_FALSE(qm::ui::WordProcessor::LacksWriter(links / "soffice"));
  }
  {
    WriteScript(bin_ / "soffice", "echo 'Error: source file could not be loaded' >&2; exit 1\n");
    PathScope path(bin_.Path(), false);
    exportWith(nullptr, "failed.doc");
    EXPECT_FALSE(fs::exists(dir_ / "failed.doc"));
  }
  const std::string word = "Microsoft Word could not be started. Check that it has been installed correctly. (";
  EXPECT_EQ(desktop_->Messages,
            (std::vector<std::string>{word + "LibreOffice Writer (soffice) is not installed) 48",
                                      word + "LibreOffice is installed without Writer, which converts to Word "
                                             "(Debian: libreoffice-writer)) 48",
                                      "Error exporting to Word: LibreOffice could not convert the document: Error: "
                                      "source file could not be loaded 48"}));

  // The real LibreOffice Writer (not any soffice: an installation with Calc
  // alone has one), checked with pdfinfo and pdfimages (poppler-utils).
  const qm::Error writer = RaisedBy([] { qm::ui::WordProcessor::Start(); });
  if (writer.Number() != 0 || QStandardPaths::findExecutable("pdfimages").isEmpty())
    GTEST_SKIP() << writer.Description() << " (or no poppler-utils): the real Word conversion is not tested "
                 << "(scripts/test --full installs it)";
  exportWith(settings, "report.doc");  // landscape
  EXPECT_EQ(desktop_->Messages.size(), 3u);
  EXPECT_EQ(ReadFile(dir_ / "report.doc").substr(0, 4), std::string("\xD0\xCF\x11\xE0", 4));  // an OLE2 (Word) file

  // Back to text, and to PDF for the page size and the picture; one private profile.
  const std::string office = "cd '" + dir_.Path().string() + "' && soffice -env:UserInstallation=file://" +
                             (dir_ / "profile") + " --headless --norestore ";
  Output(office + "--convert-to txt:Text report.doc 2>&1");
  const std::string text = ReadFile(dir_ / "report.txt");
  EXPECT_TRUE(Contains(text, "Sales by region") && Contains(text, "Third page text")) << text;
  Output(office + "--convert-to pdf report.doc 2>&1");
  const std::string info = Output("pdfinfo '" + (dir_ / "report.pdf") + "'");
  std::smatch size;
  ASSERT_TRUE(std::regex_search(info, size, std::regex(R"(Page size: *([0-9.]+) x ([0-9.]+))"))) << info;
  EXPECT_GT(std::stod(size[1]), std::stod(size[2])) << "a landscape page";
  EXPECT_TRUE(Contains(Output("pdfimages -list '" + (dir_ / "report.pdf") + "'"), "image"));
}

}  // namespace

// qm-example-report OUTDIR [--preview] [--screenshot PNG]
//
// Draws the demo chart on a Qt picture surface, writes it as a JPEG picture,
// builds a three-page report around it with the typographer, and saves it
// as OUTDIR/report.html. --preview shows the report in the document preview;
// --screenshot writes a picture of the preview window instead (it works
// offscreen).

#include <QApplication>
#include <QTimer>
#include <filesystem>
#include <iostream>

#include "DemoChart.h"
#include "quillmark/frame/Error.h"
#include "quillmark/graphics/Graphics.h"
#include "quillmark/html/PrintSettings.h"
#include "quillmark/html/Typographer.h"
#include "quillmark/ui/HTMLDisplay.h"
#include "quillmark/ui/PictureSurface.h"
#include "ui/preview/frmPreview.h"

namespace {

std::string WriteReport(const std::filesystem::path& folder) {
  std::filesystem::create_directories(folder);
  qm::ui::PictureSurface chart(480, 240);
  qm::example::DrawDemoChart(chart);
  chart.SavePicture((folder / "chart.png").string());
  qm::Graphics().SaveAsJPG((folder / "chart.png").string(), (folder / "chart.jpg").string());

  qm::Typographer report;
  report.Initialise("Quarterly report", "");
  report.BodyBegin();
  report.StyleBegin(qm::tyHeading1);
  report.Output(qm::Variant("Quarterly report"));
  report.StyleEnd();
  report.Para(qm::vbLeftJustify);
  report.OutputLine(qm::Variant("Sales rose in every region this quarter; the chart shows the monthly totals."));
  report.TableBegin(qm::Variant(1), qm::Variant(2), qm::Variant(100));
  const char* rows[][3] = {{"Region", "Units", "Revenue"}, {"North", "1,200", "36,000"}, {"South", "950", "28,500"},
                           {"East", "1,430", "42,900"},   {"West", "780", "23,400"}};
  for (const auto& row : rows) {
    report.TableRowBegin();
    report.TableElement(row[0]);
    report.TableElement(row[1], qm::vbRightJustify);
    report.TableElement(row[2], qm::vbRightJustify);
    report.TableRowEnd();
  }
  report.TableEnd();
  report.LineBreak();
  report.ImageFile((folder / "chart.jpg").string(), 0);
  report.PageBreak();
  report.StyleBegin(qm::tyHeading2);
  report.Output(qm::Variant("Details"));
  report.StyleEnd();
  report.OutputLine(qm::Variant("The second page lists what the first page sums up."));
  report.PageBreak();
  report.StyleBegin(qm::tyHeading2);
  report.Output(qm::Variant("Notes"));
  report.StyleEnd();
  report.OutputLine(qm::Variant("Figures are provisional until the audit closes."));
  report.BodyEnd();
  report.Terminate();
  const std::string page = (folder / "report" / "report.html").string();
  std::filesystem::create_directories(folder / "report");
  report.SaveAs(page);
  return page;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::cerr << "usage: qm-example-report OUTDIR [--preview] [--screenshot PNG]\n";
    return 2;
  }
  try {
    const std::string page = WriteReport(argv[1]);
    std::cout << page << '\n';
    for (int i = 2; i < argc; ++i) {
      const std::string option = argv[i];
      if (option == "--preview") {
        qm::ui::HTMLDisplay().Show(page, nullptr);
      } else if (option == "--screenshot" && i + 1 < argc) {
        const QString picture = QString::fromLocal8Bit(argv[++i]);
        // Once the window is up and drawn: take its picture and close it.
        QTimer::singleShot(300, [picture] {
          auto& form = qm::ui::frmPreview::Instance();
          if (!form.Window()) return;
          form.Window()->grab().save(picture);
          form.Window()->close();
        });
        qm::ui::HTMLDisplay().Show(page, nullptr);
      }
    }
  } catch (const qm::Error& e) {
    std::cerr << "error " << e.Number() << ": " << e.Description() << "\n  " << e.Source() << '\n';
    return 1;
  }
  return 0;
}

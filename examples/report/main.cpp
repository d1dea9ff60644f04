// Writes an HTML report with a table and a picture, saves it with its picture
// and packs it into a single-file web archive.
//
//   qm-example-report PICTURE OUTFOLDER
//
// leaves OUTFOLDER/report.html, a copy of the picture next to it, and
// OUTFOLDER/report.mht.

#include <iostream>

#include "quillmark/errors/Error.h"
#include "quillmark/html/HTMLDoc.h"
#include "quillmark/html/MhtArchive.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: qm-example-report PICTURE OUTFOLDER\n";
    return 2;
  }
  const std::string picture = argv[1];
  const std::string folder = argv[2];
  try {
    qm::HTMLDoc doc;
    doc.BeginDoc("Quarterly sales");
    doc.BeginBody();
    doc.Heading(1);
    doc.BodyText("Quarterly sales");
    doc.EndTag();

    doc.Table();
    doc.TagBorder(1);
    doc.TagCellPadding(4);
    const char* rows[][3] = {{"Region", "Units", "Revenue"}, {"North", "1,204", "48,160"}, {"South", "877", "35,080"}};
    for (const auto& row : rows) {
      doc.TableRow();
      for (const char* cell : row) doc.TableElem(cell);
      doc.EndTag();
    }
    doc.EndTag();

    doc.Bold();
    doc.BodyText("Trend:");
    doc.EndTag();
    doc.Tag("BR", true);  // the chart on a line of its own
    doc.Image(picture);
    doc.PageBreak();
    doc.BodyTextCR("Prepared with the Quillmark Library.");

    const std::string page = folder + "/report.html";
    doc.SaveAs(page);
    qm::PackMht(page, folder + "/report.mht", "Quarterly sales");
    std::cout << page << '\n' << folder << "/report.mht\n";
  } catch (const qm::Error& e) {
    std::cerr << "error " << e.Number() << ": " << e.Description() << "\n  source: " << e.Source() << '\n';
    return 1;
  }
  return 0;
}

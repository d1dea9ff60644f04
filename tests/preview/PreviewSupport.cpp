#include "preview/PreviewSupport.h"

#include <QBuffer>
#include <QImage>

namespace qm::test {
namespace {

// A small PNG picture of one colour.
std::string PngBytes(int width, int height) {
  QImage image(width, height, QImage::Format_RGB32);
  image.fill(QColor(200, 30, 30));
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, "PNG");
  return bytes.toStdString();
}

}  // namespace

std::string WriteReport(const ScratchDir& dir) {
  std::filesystem::create_directories(dir.Path() / "pics");
  WriteFile(dir / "pics/Chart.png", PngBytes(120, 60));
  const std::string page = dir / "report.html";
  WriteFile(page,
            "<HTML>\r\n<HEAD>\r\n<TITLE>Quarterly report</TITLE>\r\n"
            "<STYLE>  H6 { page-break-before: always }</STYLE>\r\n</HEAD><BODY>\r\n\r\n"
            "<H1>\r\nSales by region\r\n</H1>\r\n"
            "<TABLE  border=1 cellPadding=2 width=\"100%\" >\r\n<TR>\r\n<TD valign=top \r\n align=left \r\n>\r\n"
            "North\r\n</TD>\r\n<TD valign=top \r\n align=right \r\n>\r\n1200\r\n</TD>\r\n</TR>\r\n</TABLE>\r\n"
            "<IMG alt=\"\" src=\"PICS\\CHART.PNG\" border=0>\r\n"
            "<IMG alt=\"\" src=\"missing/gone.gif\" border=0>\r\n<H6></H6>\r\nSecond page text\r\n<H6></H6>\r\nThird page text\r\n</BODY>\r\n\r\n</HTML>\r\n");
  return page;
}

}  // namespace qm::test

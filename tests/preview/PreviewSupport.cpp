#include "preview/PreviewSupport.h"

#include <QBuffer>
#include <QImage>
#include <cstdio>

namespace qm::test {

std::string PngBytes(int width, int height) {
  QImage image(width, height, QImage::Format_RGB32);
  image.fill(QColor(200, 30, 30));
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, "PNG");
  return bytes.toStdString();
}

std::string Output(const std::string& command) {
  std::string text;
  if (FILE* pipe = ::popen(command.c_str(), "r")) {
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) text.append(buffer, n);
    ::pclose(pipe);
  }
  return text;
}

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

// quillmark-print PAGE.html [--pdf OUT]
//
// Prints an HTML page, with its pictures, to the default printer, or to a PDF
// file with --pdf. The page breaks of a report (page-break-before/after in its
// style) start new pages. The library starts this helper without waiting for
// it; it needs no display (it runs on Qt's offscreen platform when none is set).

#include <QApplication>
#include <cstdio>
#include <cstring>
#include <string>

#include "quillmark/errors/Error.h"
#include "quillmark/ui/PrintPage.h"

namespace {

int Usage() {
  std::fputs("usage: quillmark-print PAGE.html [--pdf OUT]\n", stderr);
  return 2;
}

int Fail(const std::string& message) {
  std::fprintf(stderr, "quillmark-print: %s\n", message.c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::string page, pdf;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--pdf") && i + 1 < argc) {
      pdf = argv[++i];
    } else if (argv[i][0] == '-' && argv[i][1] != '\0') {
      return Usage();
    } else if (page.empty()) {
      page = argv[i];
    } else {
      return Usage();
    }
  }
  if (page.empty()) return Usage();

  // Printing shows no window: the offscreen platform works with and without a display.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  int qtArgc = 1;
  QApplication app(qtArgc, argv);
  try {
    qm::ui::PrintPage(page, pdf);
  } catch (const qm::Error& e) {
    return Fail(e.Description());
  }
  return 0;
}

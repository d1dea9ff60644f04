// qm-example-chart OUTFOLDER
//
// Draws the demo chart with Graphics on a Qt picture surface and leaves
// OUTFOLDER/chart.png and OUTFOLDER/chart.jpg (written by Graphics.SaveAsJPG).
// Needs no display: Qt runs offscreen when there is none.

#include <QtGlobal>
#include <filesystem>
#include <iostream>

#include "DemoChart.h"
#include "quillmark/errors/Error.h"
#include "quillmark/graphics/Graphics.h"
#include "quillmark/ui/PictureSurface.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: qm-example-chart OUTFOLDER\n";
    return 2;
  }
  if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") &&
      qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  try {
    const std::filesystem::path folder = argv[1];
    std::filesystem::create_directories(folder);
    qm::ui::PictureSurface chart(480, 240);
    qm::example::DrawDemoChart(chart);
    chart.SavePicture((folder / "chart.png").string());
    qm::Graphics().SaveAsJPG((folder / "chart.png").string(), (folder / "chart.jpg").string());
    std::cout << (folder / "chart.png").string() << '\n' << (folder / "chart.jpg").string() << '\n';
  } catch (const qm::Error& e) {
    std::cerr << "error " << e.Number() << ": " << e.Description() << "\n  " << e.Source() << '\n';
    return 1;
  }
  return 0;
}

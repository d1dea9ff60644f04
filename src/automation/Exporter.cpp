#include "quillmark/automation/Exporter.h"

#include "automation/Spreadsheet.h"
#include "quillmark/errors/ErrorNumbers.h"
#include "quillmark/frame/Frame.h"
#include "quillmark/runtime/FileTable.h"
#include "quillmark/utility/TemporaryFile.h"
#include "quillmark/values/Conversions.h"
#include "quillmark/values/Dispatch.h"

namespace qm {
namespace {

constexpr const char* kModule = "Exporter";
constexpr std::int32_t kNormalWorkbook = -4143;

}  // namespace

Exporter::~Exporter() = default;

// Departs from the call-frame convention: errors leave unchanged, without an
// element of this procedure.
void Exporter::ExportArrayToExcel(const std::string& Filename, Variant& Data) {
  std::unique_ptr<spreadsheet::Application> excel;
  try {
    excel = spreadsheet::Application::Create();
    excel->SetVisible(true);
  } catch (...) {
    RaiseFrom(ERR_EXPORT_FAILED, frame::DefaultSource(kModule), std::string(StandardErrorText(ERR_EXPORT_FAILED)));
  }
  try {
    Export(*excel, Filename, Data);
  } catch (Error& e) {
    if (e.Source().empty()) e.SetSource(frame::DefaultSource(kModule));
    throw;
  }
}

void Exporter::Export(spreadsheet::Application& excel, const std::string& Filename, const Variant& Data) {
  spreadsheet::Workbooks& books = excel.GetWorkbooks();

  TemporaryFile file;
  file.SetSuffix(".txt");
  const std::int32_t number = file.AssignFileNo();
  const std::string text = GetArrayAsExcelString(Data);  // a bad table fails before the file is open
  files::Open(number, file.Filename(), files::OpenMode::Output);
  try {
    files::PrintLine(number, text);
  } catch (...) {
    files::Close(number);
    throw;
  }
  files::Close(number);

  books.OpenText(file.Filename(), spreadsheet::TabSeparatedImport());
  books.Item(1).SaveAs(Filename, kNormalWorkbook, false);
}

Variant Exporter::GetGridAsArray(const ObjectPtr& Grid) {
  QM_FRAME_TRY {
    Dispatch& grid = AsDispatch(Grid);
    const std::int32_t cols = CLng(grid.Get("Cols"));
    const std::int32_t rows = CLng(grid.Get("Rows"));
    VariantArray table({{0, cols - 1}, {0, rows - 1}});
    for (std::int32_t r = 0; r <= CLng(grid.Get("Rows")) - 1; ++r) {
      for (std::int32_t c = 0; c <= CLng(grid.Get("Cols")) - 1; ++c) {
        table(c, r) = grid.Get("TextMatrix", {Variant(r), Variant(c)});
      }
    }
    return Variant(std::move(table));
  }
  QM_FRAME_CATCH(kModule, "Public Function GetGridAsArray", Grid);
}

std::string Exporter::GetArrayAsExcelString(const Variant& Data) {
  QM_FRAME_TRY { return spreadsheet::TabSeparatedText(Data); }
  QM_FRAME_CATCH(kModule, "Private Function GetArrayAsExcelString", Data);
}

}  // namespace qm

// quillmark export-tsv IN.tsv OUT.xlsx: imports a tab-separated file the way
// the library's export does (the double quote as text qualifier) and writes it
// as a workbook.

#include <algorithm>
#include <cstddef>
#include <iostream>

#include "Commands.h"
#include "Trouble.h"
#include "quillmark/automation/Workbook.h"

namespace qm::cli {
namespace {

int Run(const Invocation& call) {
  const auto& args = call.Operands();
  // A folder opens as a stream that yields nothing; it must not become an
  // empty workbook.
  if (const std::string why = WhyNotReadable(args[0]); !why.empty()) throw Trouble(why);
  const TableSize size = WithFiles({args[0]}, args[1], [&] { return WriteWorkbookFromText(args[1], args[0]); });
  std::cout << args[1] << ": " << size.Rows << " rows, " << std::max<std::size_t>(size.Columns, 1) << " columns\n";
  return 0;
}

}  // namespace

extern const Command kExportTsv{
    .Name = "export-tsv",
    .Operands = "IN.tsv OUT.xlsx",
    .Summary = "Import the tab-separated table IN.tsv into the workbook OUT.xlsx.",
    .MinOperands = 2,
    .MaxOperands = 2,
    .Options = {},
    .Details =
        "Each line is a row, each tab-separated field a cell, read as a spreadsheet\n"
        "program reads them: the double quote is the text qualifier, so \"a<TAB>b\" is one\n"
        "cell, \"\" inside quotes is one quote, and a line break inside quotes stays in\n"
        "the cell; \"ab\"c reads as abc, and an unclosed quote runs to the end of the\n"
        "file. Text that reads as a number becomes a number. Prints the number of rows\n"
        "and columns.\n\n"
        "Examples:\n"
        "  quillmark export-tsv sales.tsv sales.xlsx\n",
    .Run = Run,
    .ShowsProgress = false,
};

}  // namespace qm::cli

// quillmark export-tsv IN.tsv OUT.xlsx: reads a tab-separated file into a
// table and writes it as a workbook.

#include <fstream>
#include <iostream>
#include <sstream>

#include "Commands.h"
#include "Trouble.h"
#include "quillmark/automation/Workbook.h"

namespace qm::cli {
namespace {

std::vector<std::vector<std::string>> ReadTsv(std::istream& in) {
  std::vector<std::vector<std::string>> rows;
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::vector<std::string> cells;
    std::istringstream fields(line);
    for (std::string cell; std::getline(fields, cell, '\t');) cells.push_back(cell);
    rows.push_back(std::move(cells));
  }
  while (!rows.empty() && rows.back().empty()) rows.pop_back();
  return rows;
}

int Run(const Invocation& call) {
  const auto& args = call.Operands();
  // A folder opens as a stream that yields nothing; it must not become an
  // empty workbook.
  if (const std::string why = WhyNotReadable(args[0]); !why.empty()) throw Trouble(why);
  std::ifstream in(args[0], std::ios::binary);
  if (!in) throw Trouble("cannot read " + args[0]);
  const auto rows = ReadTsv(in);
  // WriteWorkbook keeps each cell whole (a cell starting with a double quote
  // is quoted) and refuses a cell holding a carriage return, which would
  // otherwise split its row in the workbook.
  std::size_t columns = 1;
  for (const auto& row : rows) columns = std::max(columns, row.size());
  WithFiles({}, args[1], [&] { WriteWorkbook(args[1], rows); });
  std::cout << args[1] << ": " << rows.size() << " rows, " << columns << " columns\n";
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
    .Details = "Each line is a row, each tab-separated field a cell (text as written). Prints\n"
               "the number of rows and columns.\n\n"
               "Examples:\n"
               "  quillmark export-tsv sales.tsv sales.xlsx\n",
    .Run = Run,
    .ShowsProgress = false,
};

}  // namespace qm::cli

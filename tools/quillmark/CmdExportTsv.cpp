// quillmark export-tsv IN.tsv OUT.xlsx: reads a tab-separated file into a
// table and exports it as a workbook through Exporter.

#include <fstream>
#include <iostream>
#include <sstream>

#include "Commands.h"
#include "Trouble.h"
#include "quillmark/automation/Exporter.h"

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

}  // namespace

int RunExportTsv(const Args& args) {
  if (args.size() != 2) {
    std::cerr << "usage: quillmark export-tsv IN.tsv OUT.xlsx\n";
    return 2;
  }
  // A folder opens as a stream that yields nothing; it must not become an
  // empty workbook.
  if (const std::string why = WhyNotReadable(args[0]); !why.empty()) throw Trouble(why);
  std::ifstream in(args[0], std::ios::binary);
  if (!in) throw Trouble("cannot read " + args[0]);
  const auto rows = ReadTsv(in);
  std::size_t columns = 1;
  for (const auto& row : rows) columns = std::max(columns, row.size());
  VariantArray table({{0, static_cast<std::int32_t>(columns) - 1}, {0, static_cast<std::int32_t>(rows.size()) - 1}});
  for (std::size_t r = 0; r < rows.size(); ++r)
    for (std::size_t c = 0; c < rows[r].size(); ++c)
      table(static_cast<std::int32_t>(c), static_cast<std::int32_t>(r)) = Variant(rows[r][c]);
  Variant data(std::move(table));
  WithFiles({}, args[1], [&] { Exporter().ExportArrayToExcel(args[1], data); });
  std::cout << args[1] << ": " << rows.size() << " rows, " << columns << " columns\n";
  return 0;
}

}  // namespace qm::cli

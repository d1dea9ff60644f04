#pragma once
// The commands of the `quillmark` tool. Each takes the arguments after its
// name and returns the process's exit code.

#include <string>
#include <vector>

namespace qm::cli {

using Args = std::vector<std::string>;

struct Command {
  const char* Name;
  const char* Usage;
  int (*Run)(const Args& args);
};

int RunMht(const Args& args);
int RunCompress(const Args& args);
int RunDecompress(const Args& args);
int RunZip(const Args& args);
int RunJpeg(const Args& args);
int RunInterp(const Args& args);
int RunFind(const Args& args);
int RunXmlCheck(const Args& args);
int RunExportTsv(const Args& args);
int RunDialog(const Args& args);
int RunPreview(const Args& args);
int RunPrint(const Args& args);

}  // namespace qm::cli

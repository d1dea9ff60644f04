#pragma once
// The commands of the `quillmark` tool. Each Cmd*.cpp declares its command
// (operands, options, help) and runs it; main.cpp lists them.

#include "CommandLine.h"

namespace qm::cli {

extern const Command kMht;
extern const Command kCompress;
extern const Command kDecompress;
extern const Command kZip;
extern const Command kJpeg;
extern const Command kInterp;
extern const Command kFind;
extern const Command kXmlCheck;
extern const Command kExportTsv;
extern const Command kDialog;
extern const Command kPreview;
extern const Command kPrint;

}  // namespace qm::cli

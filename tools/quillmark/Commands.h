#pragma once
// The commands of the `quillmark` tool. Each Cmd*.cpp declares its command
// (operands, options, help) and runs it; main.cpp lists them.

#include <span>
#include <string>

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

/// Runs `command` on its arguments (those after the command's name): its help
/// when asked, else the command. Returns the exit status: 0 done, 1 the job
/// failed (the message on stderr), 2 wrong usage.
int RunCommand(const Command& command, std::span<const std::string> args);

/// The entry of a module that holds one command: `argv[1]` is its name.
int RunOneCommand(const Command& command, int argc, char** argv);

}  // namespace qm::cli

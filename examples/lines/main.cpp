// Writes indented lines through QMStream, reads them back with push-back and
// peek, then shows the call trail of an error as the error reporter lists it.

#include <iostream>

#include "quillmark/errors/Error.h"
#include "quillmark/frame/Frame.h"
#include "quillmark/frame/QMGLobal.h"
#include "quillmark/frame/Trail.h"
#include "quillmark/persistence/QMStream.h"

namespace {

// Three frames deep: the error raised by Assert gathers one element per frame.
void CheckStock(std::int32_t count) {
  QM_FRAME_TRY { qm::QMGLobal::Assert(count >= 0, "Stock cannot be negative"); }
  QM_FRAME_CATCH("Example", "Private Sub CheckStock", count);
}

void LoadWarehouse(const std::string& name) {
  QM_FRAME_TRY { CheckStock(-3); }
  QM_FRAME_CATCH("Example", "Public Sub LoadWarehouse", name);
}

}  // namespace

int main(int argc, char** argv) {
  const std::string path = argc > 1 ? argv[1] : "lines-demo.txt";

  qm::QMStream writer;
  writer.Use(qm::TextStream::Open(path, qm::IOMode::ForWriting));
  writer.WriteLine("%Collection Orders @ 2");
  writer.Indent();
  writer.WriteLine("%Object Order @ 1");
  writer.Indent();
  writer.WriteLine("%Property Total");
  writer.UnIndent();
  writer.UnIndent();
  writer.WriteBlankLines(1);
  writer.WriteLine("end");
  writer.Close_();
  std::cout << "wrote " << path << "\n";

  qm::QMStream reader;
  reader.Use(qm::TextStream::Open(path, qm::IOMode::ForReading));
  std::cout << "first line:      [" << reader.ReadLine() << "]\n";
  reader.UnReadLine();
  std::cout << "pushed back:     [" << reader.ReadLine() << "]\n";
  std::cout << "peek:            [" << reader.Peek() << "]\n";
  while (!reader.AtEndOfStream()) std::cout << "line:            [" << reader.ReadLine() << "]\n";
  reader.Close_();

  try {
    LoadWarehouse("North");
  } catch (const qm::Error& e) {
    std::cout << "\nError " << e.Number() << ": " << e.Description() << "\nCall Stack : \n";
    for (const std::string& piece : qm::Trail(e)) std::cout << "  " << piece << '\n';
  }
  return 0;
}

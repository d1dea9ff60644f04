#include "quillmark/persistence/VectorCollection.h"

#include "frame/FileErrors.h"
#include "io/AtomicFile.h"
#include "quillmark/frame/Frame.h"

namespace qm {

void SaveCollection(const std::filesystem::path& file, const IPersistableCollectionPtr& collection,
                    std::int32_t version) {
  QM_FRAME_TRY {
    // The records are built in memory and replace the file in one step.
    const auto text = TextStream::InMemory();
    QMStream out;
    out.Use(text);
    out.WriteCollectionSimple(collection, version);
    try {
      io::AtomicFile::WriteWhole(file, text->Text());
    } catch (...) {
      frame::RethrowForTarget(file);
    }
  }
  QM_FRAME_CATCH("VectorCollection", "Public Sub SaveCollection", file.string(), version);
}

void LoadCollection(const std::filesystem::path& file, const IPersistableCollectionPtr& collection,
                    const PersistanceContextPtr& context) {
  QMStream in;
  try {
    in.Use(TextStream::Open(file.string(), IOMode::ForReading));
  } catch (...) {
    frame::RethrowForInput(file);
  }
  in.ReadCollectionSimple(collection, true, context ? context : std::make_shared<PersistanceContext>());
  in.Close_();
}

}  // namespace qm

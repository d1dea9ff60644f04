// qm-crash-writer WRITER VARIANT FOLDER: writes one large output into FOLDER
// through one of the library's whole-file writers, for the crash test to kill.
// Each VARIANT's (0 or 1) input is made once and kept in FOLDER; "go" on the
// standard output marks the start of the write; status 0 means it completed.

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <random>
#include <stdexcept>
#include <string>

#include "quillmark/automation/XML.h"
#include "quillmark/compression/Compress.h"
#include "quillmark/graphics/DIBSection.h"
#include "quillmark/graphics/IJL.h"
#include "quillmark/html/HTMLDoc.h"
#include "quillmark/runtime/TextStream.h"
#include "quillmark/utility/OLEStreamWriter.h"

namespace {
namespace fs = std::filesystem;

constexpr std::size_t kLines = 32000;  // about 2.3 MB of text per output

// Lines of words that differ between the variants, compressible about 3:1.
std::string Words(int variant, std::size_t line) {
  static const char* const kWords[] = {"ledger", "invoice", "quantity", "north", "amber",  "spline",
                                       "record", "margin",  "value",    "total", "column", "vector"};
  std::mt19937_64 random(line * 2 + static_cast<std::uint64_t>(variant) + 1);  // the same on every run
  std::string text = std::to_string(line) + (variant ? " b" : " a");
  for (int i = 0; i < 8; ++i) {
    text += ' ';
    text += kWords[random() % 12];
    text += std::to_string(random() % 1000);
  }
  return text;
}

std::string Text(int variant, std::size_t lines) {
  std::string text;
  for (std::size_t i = 0; i < lines; ++i) text += Words(variant, i) + "\r\n";
  return text;
}

// Makes an input once (in a complete run: the test kills none before "go");
// later runs find it in place.
fs::path Input(const fs::path& folder, const std::string& name, const std::function<std::string()>& make) {
  const fs::path path = folder / name;
  if (!fs::exists(path)) std::ofstream(path, std::ios::binary) << make();
  return path;
}

void Go() { std::cout << "go" << std::endl; }

void Compress(int v, const fs::path& dir) {
  const auto in = Input(dir, "in" + std::to_string(v) + ".txt", [v] { return Text(v, kLines); });
  Go();
  qm::Compress().CompressFile(in.string(), (dir / "out.z").string(), qm::COM_DEFAULT_COMPRESSION);
}

void Decompress(int v, const fs::path& dir) {
  const fs::path in = dir / ("in" + std::to_string(v) + ".z");
  const auto text = Input(dir, "plain" + std::to_string(v) + ".txt", [v] { return Text(v, kLines); });
  if (!fs::exists(in)) qm::Compress().CompressFile(text.string(), in.string(), qm::COM_BEST_SPEED);
  Go();
  qm::Compress().DecompressFile(in.string(), (dir / "out.txt").string());
}

std::string XmlText(int v, std::size_t rows) {
  std::string xml = "<orders>";
  for (std::size_t i = 0; i < rows; ++i) xml += "<order id=\"" + std::to_string(i) + "\">" + Words(v, i) + "</order>";
  return xml + "</orders>";
}

void Xml(int v, const fs::path& dir) {
  const auto in = Input(dir, "in" + std::to_string(v) + ".xml", [v] { return XmlText(v, kLines / 2); });
  qm::XML doc;
  if (!doc.LoadFile(in.string())) throw std::runtime_error("cannot load " + in.string());
  Go();
  if (!doc.SaveFile((dir / "out.xml").string())) throw std::runtime_error("cannot save");
}

void Records(int v, const fs::path& dir) {
  const std::string text = Text(v, kLines);
  Go();
  auto stream = qm::TextStream::Open((dir / "out.txt").string(), qm::IOMode::ForWriting, true,
                                     v ? qm::TextFormat::Unicode : qm::TextFormat::ASCII);
  for (std::size_t at = 0, end; (end = text.find("\r\n", at)) != std::string::npos; at = end + 2)
    stream->WriteLine(std::string_view(text).substr(at, end - at));
  stream->Close();
}

// A page and a large picture, both replaced by the save.
void Page(int v, const fs::path& dir) {
  const fs::path source = dir / ("pictures" + std::to_string(v));
  fs::create_directories(source);
  const auto picture = Input(source, "picture.bmp", [v] { return Text(v, kLines / 2); });
  fs::create_directories(dir / "site");
  qm::HTMLDoc doc;
  doc.BeginDoc("Report " + std::to_string(v));
  doc.BeginBody();
  doc.Image(picture.string());
  for (std::size_t i = 0; i < kLines / 2; ++i) doc.BodyTextCR(Words(v, i));
  const std::string page = (dir / "site" / "page.html").string();
  Go();
  doc.SaveAs(page);
}

void Storage(int v, const fs::path& dir) {
  auto writer = std::make_shared<qm::OLEStreamWriter>();
  const std::string text = Text(v, kLines);
  writer->Stream()->Write({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
  Go();
  writer->WriteToFile((dir / "out.bin").string());
}

void Jpeg(int v, const fs::path& dir) {
  qm::clsDIBSection dib;
  if (!dib.Create(1200, 900)) throw std::runtime_error("no DIB");
  std::mt19937 random(static_cast<std::uint32_t>(v + 1));
  std::uint8_t* bits = dib.DIBSectionBitsPtr();
  const std::size_t size = static_cast<std::size_t>(dib.BytesPerScanLine()) * 900;
  for (std::size_t i = 0; i < size; ++i) bits[i] = static_cast<std::uint8_t>(random());
  Go();
  if (!qm::mdlIntelJPEGLibrary::SaveJPG(dib, (dir / "out.jpg").string(), 95)) throw std::runtime_error("no JPEG");
}

// Inputs for the command-line tool's writers.
void ToolInputs(int v, const fs::path& dir) {
  Input(dir, "table" + std::to_string(v) + ".tsv", [v] {
    std::string tsv;
    for (std::size_t i = 0; i < kLines / 5; ++i) {
      const std::string words = Words(v, i);
      tsv += std::to_string(i) + "\t" + words.substr(0, 30) + "\t" + words.substr(30) + "\t" +
             std::to_string(i * 7 % 13) + "\n";
    }
    return tsv;
  });
  Input(dir, "source" + std::to_string(v) + ".xml", [v] { return XmlText(v, kLines / 2); });
  // A page for the MHT converter, with a large file it refers to.
  Input(dir, "picture" + std::to_string(v) + ".bmp", [v] { return Text(v, kLines / 2); });
  Input(dir, "page" + std::to_string(v) + ".html", [v] {
    return "<html><body><img src=\"Picture" + std::to_string(v) + ".bmp\">\r\n" + Text(v, kLines / 4) +
           "</body></html>\r\n";
  });
}

}  // namespace

int main(int argc, char** argv) {
  const std::map<std::string, void (*)(int, const fs::path&)> writers = {
      {"compress", Compress}, {"decompress", Decompress}, {"xml", Xml},   {"records", Records},
      {"page", Page},         {"ole", Storage},           {"jpeg", Jpeg}, {"tool-inputs", ToolInputs}};
  if (argc != 4 || !writers.count(argv[1])) {
    std::cerr << "usage: qm-crash-writer WRITER VARIANT FOLDER\n";
    return 2;
  }
  try {
    writers.at(argv[1])(std::stoi(argv[2]), argv[3]);
    return 0;
  } catch (const std::exception& e) {
    std::cerr << "qm-crash-writer: " << e.what() << '\n';
    return 1;
  }
}

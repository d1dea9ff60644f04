// XML.LoadFile of a 50 MB order file against libxml2 reading the same file
// into its tree (xmlReadFile, entities substituted, nothing fetched); both
// include releasing the tree; the typed qm::LoadXml is timed in the same
// rounds. Detail lines: pugixml's load_file, which does
// not check well-formedness; then what `quillmark xml-check` does (LoadXml,
// then XmlElement::Save) on 50 MB and on 500 MB, each in a process of its
// own: the time, and the peak resident memory grown per byte of the file,
// against `xmllint --stream`, which holds no tree (its memory stays flat).

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <pugixml.hpp>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "quillmark/automation/XML.h"
#include "quillmark/automation/XmlQuery.h"
#include "support/BenchRow.h"

namespace {

// Orders with a customer, one to four lines and a total, indented.
void WriteOrders(const std::string& path, long megabytes) {
  std::ofstream out(path, std::ios::binary);
  std::mt19937 random(11);
  const char* words[] = {"tea", "cake", "green", "black", "honey", "lemon", "scone", "jam", "cream", "mint"};
  out << "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<orders>\n";
  for (long n = 1; out.tellp() < megabytes * 1024 * 1024; ++n) {
    out << "  <order id=\"" << n << "\" date=\"2024-" << n % 12 + 1 << "-" << n % 28 + 1
        << "\">\n    <customer>Customer " << n % 5000 << " &amp; Co</customer>\n";
    for (unsigned line = random() % 4 + 1; line > 0; --line) {
      out << "    <line sku=\"S" << random() % 100000 << "\" qty=\"" << random() % 9 + 1 << "\">";
      for (unsigned w = random() % 5 + 2; w > 0; --w) out << words[random() % 10] << (w > 1 ? " " : "");
      out << "</line>\n";
    }
    out << "    <total>" << random() % 100000 / 100.0 << "</total>\n  </order>\n";
  }
  out << "</orders>\n";
}

long StatusKb(const char* field) {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind(field, 0) == 0) return std::stol(line.substr(std::string(field).size()));
  return 0;
}

double Seconds(const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; }

// Seconds of processor time this process has used in user space (all its
// threads). The kernel's part, copying the output into the page cache,
// grows with what the machine has to reclaim for it, not with our work.
double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return Seconds(usage.ru_utime);
}

double Since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Wall and processor seconds in user space (the second steadier on a busy
// machine).
struct Measure {
  double Load = 0, LoadCpu = 0, Save = 0, SaveCpu = 0;
  long GrownKb = 0;  // peak resident memory above what the process held before
};

// LoadXml then Save, in a child process: its times and its peak memory.
Measure CheckInChild(const std::string& in, const std::string& out) {
  int fds[2];
  if (pipe(fds) != 0) return {};
  const pid_t child = fork();
  if (child == 0) {
    std::ofstream("/proc/self/clear_refs") << "5";  // forget the peak inherited by fork
    const long before = StatusKb("VmRSS:");
    Measure m;
    {
      auto start = std::chrono::steady_clock::now();
      double cpu = CpuSeconds();
      const qm::XmlElement root = qm::LoadXml(in);
      m.Load = Since(start), m.LoadCpu = CpuSeconds() - cpu;
      start = std::chrono::steady_clock::now(), cpu = CpuSeconds();
      root.Save(out);
      m.Save = Since(start), m.SaveCpu = CpuSeconds() - cpu;
    }
    m.GrownKb = StatusKb("VmHWM:") - before;
    (void)!write(fds[1], &m, sizeof m);
    _exit(0);
  }
  close(fds[1]);
  Measure m;
  (void)!read(fds[0], &m, sizeof m);
  close(fds[0]);
  waitpid(child, nullptr, 0);
  return m;
}

// `xmllint --stream --noout FILE`: its time and peak memory.
Measure XmllintStream(const std::string& in) {
  const auto start = std::chrono::steady_clock::now();
  const pid_t child = fork();
  if (child == 0) {
    execlp("xmllint", "xmllint", "--stream", "--noout", in.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  wait4(child, &status, 0, &usage);
  Measure m;
  m.Load = Since(start);
  m.LoadCpu = Seconds(usage.ru_utime);
  m.GrownKb = WIFEXITED(status) && WEXITSTATUS(status) == 0 ? usage.ru_maxrss : -1;
  return m;
}

std::string Fixed(double value, int digits) {
  std::ostringstream text;
  text.setf(std::ios::fixed);
  text.precision(digits);
  text << value;
  return text.str();
}

}  // namespace

int main() {
  const std::string dir = qm::bench::ScratchDir("xml");
  const std::string path = dir + "/orders-50.xml";
  WriteOrders(path, 50);

  // Growth from 50 MB to 500 MB, as `quillmark xml-check` loads and saves,
  // measured first: the children forked here start from a small process
  // (pages the row below frees but keeps would be counted in theirs). Each
  // size runs three times; the medians count.
  const std::string large = dir + "/orders-500.xml";
  WriteOrders(large, 500);
  const double small = static_cast<double>(std::filesystem::file_size(path));
  const double big = static_cast<double>(std::filesystem::file_size(large));
  const auto best = [&](const std::string& in) {
    std::vector<Measure> runs;
    for (int i = 0; i < 3; ++i) runs.push_back(CheckInChild(in, dir + "/out.xml"));
    const auto median = [&](double Measure::*field) {
      std::vector<double> values;
      for (const Measure& m : runs) values.push_back(m.*field);
      std::sort(values.begin(), values.end());
      return values[1];
    };
    Measure m;
    m.Load = median(&Measure::Load), m.LoadCpu = median(&Measure::LoadCpu);
    m.Save = median(&Measure::Save), m.SaveCpu = median(&Measure::SaveCpu);
    for (const Measure& run : runs) m.GrownKb = std::max(m.GrownKb, run.GrownKb);
    return m;
  };
  const Measure a = best(path);
  const Measure b = best(large);
  const Measure la = XmllintStream(path);
  const Measure lb = XmllintStream(large);
  std::filesystem::remove(large);
  std::filesystem::remove(dir + "/out.xml");

  std::int32_t oursOrders = 0, peerOrders = 0;
  qm::bench::Contender ours{"XML.LoadFile", [&] {
                              qm::XML doc;
                              doc.LoadFile(path);
                              oursOrders = doc.GetNextTag()->ChildCount("order");
                            }};
  qm::bench::Contender peer{"libxml2 xmlReadFile", [&] {
                              xmlDocPtr doc = xmlReadFile(path.c_str(), nullptr, XML_PARSE_NOENT | XML_PARSE_NONET);
                              peerOrders = 0;
                              for (xmlNodePtr n = doc ? xmlDocGetRootElement(doc)->children : nullptr; n; n = n->next)
                                if (n->type == XML_ELEMENT_NODE) ++peerOrders;
                              xmlFreeDoc(doc);
                            }};
  // The typed call: the same loader, the root as an XmlElement.
  std::size_t typedOrders = 0;
  qm::bench::Contender typed{"qm::LoadXml", [&] { typedOrders = qm::LoadXml(path).ChildCount("order"); }};
  qm::bench::RowOptions options;
  options.Typed = &typed;
  const qm::bench::RowResult row = qm::bench::RunRow("xml", 0.6, ours, {peer}, options);
  if (oursOrders != peerOrders || oursOrders == 0 || typedOrders != static_cast<std::size_t>(oursOrders))
    qm::bench::Detail("MISMATCH: the two loaders saw different documents");
  std::vector<double> pugiSeconds;
  for (int i = 0; i < 3; ++i) {
    const auto start = std::chrono::steady_clock::now();
    pugi::xml_document doc;
    doc.load_file(path.c_str());
    pugiSeconds.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  std::sort(pugiSeconds.begin(), pugiSeconds.end());
  qm::bench::Detail("ratio to pugixml load_file (no well-formedness check): " +
                    Fixed(row.OursSeconds / pugiSeconds[1], 2));

  const auto perByte = [](const Measure& m, double bytes) {
    return Fixed(static_cast<double>(m.GrownKb) * 1024 / bytes, 2);
  };
  qm::bench::Detail("load + save, peak memory per file byte: " + perByte(a, small) + " at 50 MB, " + perByte(b, big) +
                    " at 500 MB (xmllint --stream: " + std::to_string(la.GrownKb / 1024) + " MB and " +
                    std::to_string(lb.GrownKb / 1024) + " MB in all)");
  // "0.63 to 6.32 s (x10.03)": processor time in user space, then wall time.
  const auto growth = [](double from, double to) {
    return Fixed(from, 2) + " to " + Fixed(to, 2) + " s (x" + Fixed(to / from, 2) + ")";
  };
  qm::bench::Detail("50 MB to 500 MB (x" + Fixed(big / small, 2) + "), processor time (user): load " +
                    growth(a.LoadCpu, b.LoadCpu) + ", save " + growth(a.SaveCpu, b.SaveCpu) + ", xmllint --stream " +
                    growth(la.LoadCpu, lb.LoadCpu) + "; memory x" +
                    Fixed(static_cast<double>(b.GrownKb) / static_cast<double>(a.GrownKb), 2));
  qm::bench::Detail("  wall time: load " + growth(a.Load, b.Load) + ", save " + growth(a.Save, b.Save) +
                    ", xmllint --stream " + growth(la.Load, lb.Load));
  return 0;
}

// The XML reader (CXmlDocument::ParseText) against pugixml on the same in-memory inputs, in one
// run: a table of contents with 10,000 record leaves in nested sections, a 49-book catalogue and
// 1,000 small record files, all with GBK Chinese text. Before timing, both parsers must produce
// the same element tree (count and tag sequence). At exit, per input: "xml <input>:
// ours/pugixml = R" with R = our mean CPU time per iteration / pugixml's.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <pugixml.hpp>
#include <string>
#include <vector>

#include "base/gbk.h"
#include "core/xml/xml_document.h"

namespace {

using tomeva::Utf8ToGbk;

const char* const kWords[] = {"青灯", "照夜", "白露", "沾衣", "山间", "松风", "林下", "竹影",
                              "关雎", "蒹葭", "离骚", "九歌", "国风", "小雅", "大雅", "颂"};
std::string Word(size_t i) { return kWords[i % 16]; }

std::string ChapterXml() {
  std::string s = "<?xml version=\"1.0\" encoding=\"GB2312\"?>\n<chapter>\n";
  int record = 0;
  for (int part = 0; part < 20 && record < 10000; ++part) {
    s += "<section name=\"第" + std::to_string(part + 1) + "部 " + Word(part) + "\" htm=\"htm\\p" +
         std::to_string(part) + ".htm\" pdf=\"pdf\\p" + std::to_string(part) + ".pdf\">\n";
    for (int sec = 0; sec < 10 && record < 10000; ++sec) {
      s += " <section name=\"第" + std::to_string(sec + 1) + "章 " + Word(sec + part) +
           "\" htm=\"htm\\c" + std::to_string(sec) + ".htm\" pdf=\"pdf\\c" + std::to_string(sec) +
           ".pdf\">\n";
      for (int r = 0; r < 50 && record < 10000; ++r, ++record) {
        s += "  <record name=\"" + Word(record) + Word(record / 16) + std::to_string(record) +
             "\" file=\"book_1.xml\"/>\n";
      }
      s += " </section>\n";
    }
    s += "</section>\n";
  }
  s += "</chapter>\n";
  return Utf8ToGbk(s);
}

std::string CatalogueXml() {
  std::string s = "<?xml version=\"1.0\" encoding=\"GB2312\"?>\n<books>\n";
  for (int b = 1; b <= 49; ++b) {
    s += "<book name=\"" + Word(b) + Word(b * 7) + "集\" dir=\"" + std::to_string(b) +
         "\" htm=\"home.htm\" pdf=\"" + std::to_string(b) + ".pdf\" category=\"" +
         std::to_string(1000 + b) + "\"/>\n";
  }
  for (int l = 0; l < 6; ++l) {
    s += "<label" + std::to_string(l) + ">" + Word(l) + "</label" + std::to_string(l) + ">\n";
  }
  s += "</books>\n";
  return Utf8ToGbk(s);
}

std::vector<std::string> RecordFiles() {
  std::vector<std::string> files;
  for (int i = 0; i < 1000; ++i) {
    std::string s = "<?xml version=\"1.0\" encoding=\"GB2312\"?>\n<record>\n";
    s += "<FdName>" + Word(i) + Word(i / 3) + "第" + std::to_string(i) + "篇</FdName>\n";
    s += "<FdAuthor>" + Word(i + 5) + "</FdAuthor>\n";
    s += "<FdDate>2005-03-07</FdDate>\n";
    s += "<FdAbstract>" + Word(i) + "，" + Word(i + 1) + "。" + Word(i + 2) + "，" + Word(i + 3) +
         "。&amp;" + Word(i + 4) + "</FdAbstract>\n";
    s += "<FdCategory>" + std::to_string(1000 + i % 49) + "</FdCategory>\n";
    s += "</record>\n";
    files.push_back(Utf8ToGbk(s));
  }
  return files;
}

struct Input {
  std::string name;
  std::vector<std::string> docs;
};

std::vector<Input>& Inputs() {
  static std::vector<Input> inputs = {
      {"chapter", {ChapterXml()}}, {"catalogue", {CatalogueXml()}}, {"records", RecordFiles()}};
  return inputs;
}

void OurTags(const tomeva::CXmlNode& node, std::vector<std::string>* tags) {
  tags->push_back(node.tag());
  for (const tomeva::CXmlNode* c = node.first_child(); c != nullptr; c = c->next_sibling()) {
    OurTags(*c, tags);
  }
}

void PugiTags(const pugi::xml_node& node, std::vector<std::string>* tags) {
  tags->push_back(node.name());
  for (pugi::xml_node c = node.first_child(); c; c = c.next_sibling()) {
    if (c.type() == pugi::node_element) PugiTags(c, tags);
  }
}

// Both parsers must build the same elements, or the comparison means nothing.
bool SameTrees(const Input& input) {
  for (const std::string& text : input.docs) {
    tomeva::CXmlDocument ours;
    pugi::xml_document theirs;
    if (ours.ParseText(text) != 1 ||
        !theirs.load_buffer(text.data(), text.size(), pugi::parse_default, pugi::encoding_utf8)) {
      return false;
    }
    std::vector<std::string> a, b;
    OurTags(ours.root(), &a);
    PugiTags(theirs.document_element(), &b);
    if (a != b) return false;
  }
  return true;
}

void BM_Ours(benchmark::State& state, const Input* input) {
  for (auto _ : state) {
    for (const std::string& text : input->docs) {
      tomeva::CXmlDocument doc;
      benchmark::DoNotOptimize(doc.ParseText(text));
    }
  }
}

void BM_Pugixml(benchmark::State& state, const Input* input) {
  for (auto _ : state) {
    for (const std::string& text : input->docs) {
      pugi::xml_document doc;
      benchmark::DoNotOptimize(
          doc.load_buffer(text.data(), text.size(), pugi::parse_default, pugi::encoding_utf8));
    }
  }
}

// Keeps each benchmark's mean time per iteration for the ratios printed at the end.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type != Run::RT_Iteration || run.error_occurred) continue;
      auto& [sum, n] = times_[run.benchmark_name()];
      sum += run.GetAdjustedCPUTime();  // CPU time: steadier on a shared machine
      ++n;
    }
    ConsoleReporter::ReportRuns(runs);
  }
  double Mean(const std::string& name) const {
    auto it = times_.find(name);
    return it == times_.end() || it->second.second == 0 ? 0 : it->second.first / it->second.second;
  }

 private:
  std::map<std::string, std::pair<double, int>> times_;
};

}  // namespace

int main(int argc, char** argv) {
  for (const Input& input : Inputs()) {
    if (!SameTrees(input)) {
      std::fprintf(stderr, "xml %s: the parsers disagree; not timing\n", input.name.c_str());
      return 1;
    }
  }
  for (const Input& input : Inputs()) {
    benchmark::RegisterBenchmark(("xml/" + input.name + "/ours").c_str(), BM_Ours, &input);
    benchmark::RegisterBenchmark(("xml/" + input.name + "/pugixml").c_str(), BM_Pugixml, &input);
  }
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  for (const Input& input : Inputs()) {
    double ours = reporter.Mean("xml/" + input.name + "/ours");
    double theirs = reporter.Mean("xml/" + input.name + "/pugixml");
    if (ours > 0 && theirs > 0) {
      std::printf("xml %s: ours/pugixml = %.2f\n", input.name.c_str(), ours / theirs);
    }
  }
  return 0;
}

#include "Content.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "Measure.h"
#include "util/Md5.h"

namespace udra::sysbench {
namespace fs = std::filesystem;

namespace {

struct Line {
  std::string text;  // as published, without its CR LF
  int32_t packedSize = 0;
  std::string packedDigest;
};

// Catalogue lines by name: "name|size|packedSize|digest|packedDigest|urlFolder|package".
std::map<std::string, Line> ReadCatalogue(const std::string& path) {
  std::map<std::string, Line> lines;
  std::ifstream in(path, std::ios::binary);
  std::string text;
  while (std::getline(in, text)) {
    if (!text.empty() && text.back() == '\r') text.pop_back();
    std::vector<std::string> columns;
    std::stringstream split(text);
    for (std::string column; std::getline(split, column, '|');) columns.push_back(column);
    if (columns.size() != 7) continue;
    lines[columns[0]] = {text, std::atoi(columns[2].c_str()), columns[4]};
  }
  return lines;
}

std::string SourceName(int i) { return "f" + std::to_string(i) + ".bin"; }

bool WriteSources(const std::string& srcFolder, DataSet& set, std::string& error) {
  const fs::path folder = fs::path(srcFolder) / set.folder;
  fs::create_directories(folder);
  const int distinct = set.distinct > 0 ? set.distinct : set.count;
  for (int i = 0; i < distinct; ++i) {
    const std::string bytes = RandomBytes(set.size, (uint64_t(set.size) << 20) + uint64_t(i));
    if (i == 0) set.firstDigest = Md5::HexDigest(bytes.data(), bytes.size());
    std::ofstream out(folder / SourceName(i), std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) {
      error = "cannot write " + (folder / SourceName(i)).string();
      return false;
    }
  }
  return true;
}

// Serves file i >= distinct as a copy of file i % distinct and catalogues it.
bool AddRepeats(const std::string& wwwRoot, const DataSet& set, std::map<std::string, Line>& lines,
                std::string& error) {
  if (set.distinct <= 0 || set.distinct >= set.count) return true;
  std::ofstream catalogue(wwwRoot + "/FileList.dat", std::ios::binary | std::ios::app);
  const fs::path served = fs::path(wwwRoot) / "v1" / set.folder;
  for (int i = set.distinct; i < set.count; ++i) {
    const Line& model = lines[set.FileKey(i % set.distinct)];
    std::error_code ec;
    fs::copy_file(served / SourceName(i % set.distinct), served / SourceName(i), ec);
    if (ec || model.text.empty()) {
      error = "cannot repeat " + set.FileKey(i % set.distinct);
      return false;
    }
    Line line = model;
    line.text = set.FileKey(i) + model.text.substr(model.text.find('|'));
    catalogue << line.text << "\r\n";
    lines[set.FileKey(i)] = line;
  }
  if (!catalogue) error = "cannot extend the catalogue";
  return bool(catalogue);
}

}  // namespace

bool Publish(const std::string& srcFolder, const std::string& wwwRoot, const std::string& serverUrl,
             const std::vector<DataSet*>& sets, std::string& error) {
  for (DataSet* set : sets) {
    if (!WriteSources(srcFolder, *set, error)) return false;
  }
  const std::string command = std::string(UDRA_STAGE_DIR) + "/udra-publish '" + srcFolder + "' '" + wwwRoot +
                              "' --url-folder v1 --level 0 --quiet > /dev/null";
  if (std::system(command.c_str()) != 0) {
    error = "udra-publish failed: " + command;
    return false;
  }
  std::map<std::string, Line> lines = ReadCatalogue(wwwRoot + "/FileList.dat");
  for (DataSet* set : sets) {
    if (!AddRepeats(wwwRoot, *set, lines, error)) return false;
    for (int i = 0; i < set->count; ++i) {
      const auto line = lines.find(set->FileKey(i));
      if (line == lines.end()) {
        error = "the catalogue lacks " + set->FileKey(i);
        return false;
      }
      set->packedSizes.push_back(line->second.packedSize);
      set->packedDigests.push_back(line->second.packedDigest);
      set->servedBytes += uint64_t(line->second.packedSize);
      set->urls.push_back(serverUrl + "v1/" + set->folder + "/" + SourceName(i));
    }
  }
  return true;
}

}  // namespace udra::sysbench

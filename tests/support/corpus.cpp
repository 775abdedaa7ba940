#include "tests/support/corpus.h"

#include <algorithm>
#include <fstream>
#include <sstream>

namespace testsupport {

const std::filesystem::path& corpusDir() {
  static const std::filesystem::path dir = QUORVANE_CORPUS_DIR;
  return dir;
}

bool corpusPresent() {
  std::error_code error;
  return std::filesystem::is_regular_file(corpusDir() / "manifest.tsv", error);
}

std::vector<CorpusEntry> corpusEntries(const std::vector<std::string>& formats) {
  std::vector<CorpusEntry> entries;
  std::ifstream manifest(corpusDir() / "manifest.tsv");
  std::string line;
  std::getline(manifest, line);  // column names
  while (std::getline(manifest, line)) {
    std::vector<std::string> fields;
    std::stringstream stream(line);
    for (std::string field; std::getline(stream, field, '\t');) fields.push_back(field);
    fields.resize(5);
    if (std::find(formats.begin(), formats.end(), fields[1]) == formats.end()) continue;
    CorpusEntry entry{fields[0], fields[1], fields[2]};
    if (!fields[3].empty() && !fields[4].empty()) {
      entry.width = std::stoi(fields[3]);
      entry.height = std::stoi(fields[4]);
    }
    entries.push_back(entry);
  }
  return entries;
}

}  // namespace testsupport

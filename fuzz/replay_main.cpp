// Runs a fuzz target's LLVMFuzzerTestOneInput once on every file of its seed
// corpus and of its regression folder, without libFuzzer, so the test suite
// replays them on every build. A failed check aborts the program.
//
// Usage: <target>_replay CORPUS_DIR [REGRESSION_DIR]
// The corpus must hold at least one file; the regression folder may not
// exist yet.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

namespace fs = std::filesystem;

// The regular files of a folder, in name order so every run is the same.
std::vector<fs::path> files_in(const fs::path& folder) {
  std::vector<fs::path> files;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
    if (entry.is_regular_file()) files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

bool replay(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "cannot read %s\n", file.string().c_str());
    return false;
  }
  const std::vector<uint8_t> input(std::istreambuf_iterator<char>(in), {});
  std::printf("%s (%zu bytes)\n", file.string().c_str(), input.size());
  std::fflush(stdout);
  const uint8_t empty = 0;
  LLVMFuzzerTestOneInput(input.empty() ? &empty : input.data(), input.size());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: %s CORPUS_DIR [REGRESSION_DIR]\n", argv[0]);
    return 2;
  }
  std::error_code error;
  std::vector<fs::path> files;
  if (fs::is_directory(argv[1], error)) files = files_in(argv[1]);
  if (files.empty()) {
    std::fprintf(stderr, "no corpus files in %s\n", argv[1]);
    return 1;
  }
  const size_t corpus_files = files.size();
  if (argc == 3 && fs::is_directory(argv[2], error)) {
    const std::vector<fs::path> regressions = files_in(argv[2]);
    files.insert(files.end(), regressions.begin(), regressions.end());
  }
  for (const fs::path& file : files) {
    if (!replay(file)) return 1;
  }
  std::printf("replayed %zu corpus and %zu regression inputs\n", corpus_files,
              files.size() - corpus_files);
  return 0;
}

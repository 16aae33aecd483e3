#include "bench/support/bench_plant.h"

#include <stdlib.h>

#include <cstdlib>
#include <filesystem>

CBenchSandbox::CBenchSandbox() {
  std::string root = std::filesystem::temp_directory_path().string() + "/aebench.XXXXXX";
  if (!mkdtemp(root.data())) return;
  root_ = root;
  setenv("AE_REGISTRY_DIR", root_.c_str(), 1);
}

CBenchSandbox::~CBenchSandbox() {
  std::error_code ec;
  if (!root_.empty()) std::filesystem::remove_all(root_, ec);
}

bool GeneratePlant(const std::string& dir, int producers, int blocks, int seed) {
  std::string command = std::string(PYTHON3) + " " + PLANTGEN_SCRIPT + " --producers " + std::to_string(producers) +
                        " --blocks " + std::to_string(blocks) + (seed >= 0 ? " --seed " + std::to_string(seed) : "") +
                        " '" + dir + "' > /dev/null";
  return std::system(command.c_str()) == 0;
}

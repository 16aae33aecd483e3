// What the benchmarks share to set up a plant: a private registry store and
// plants written by the plant generator (the Ralto plugins are registered in
// the store with tests/support/plugin_registration.h, as the tests do).
#pragma once

#include <string>

// A temporary folder that holds the benchmark's private registry store
// (AE_REGISTRY_DIR) and its plants; removed with everything in it at the end.
class CBenchSandbox {
 public:
  CBenchSandbox();
  ~CBenchSandbox();
  CBenchSandbox(const CBenchSandbox&) = delete;
  CBenchSandbox& operator=(const CBenchSandbox&) = delete;

  // Empty when the folder could not be made.
  const std::string& Root() const { return root_; }

 private:
  std::string root_;
};

// Writes a plant of `producers` x `blocks` into `dir` with tools/plantgen
// (`seed` < 0: the generator's default). False when the generator fails.
bool GeneratePlant(const std::string& dir, int producers, int blocks, int seed = -1);

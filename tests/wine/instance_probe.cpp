// The single-instance guard of a console program, for the Windows test script: prints "first"
// when this copy took the guard, "later" when another copy of the same file name holds it. With
// the argument "hold", the first copy keeps the guard until its standard input closes.
#include <iostream>
#include <string>

#include "instance/one_instance.h"

namespace {
struct ConsoleHost : instance::InstanceHost {
  std::string OwnerName() override { return "Probe"; }
  bool OwnerHasGuard() override { return false; }
  std::string ApplicationTitle() override { return "probe"; }
  void SetApplicationTitle(const std::string&) override {}
  void Terminate() override {}
  void ShowErrorReport(const std::string& text) override { std::cerr << text << "\n"; }
  void ShowWarning(const std::string& text) override { std::cerr << text << "\n"; }
  bool RaiseWindowTitled(const std::string&) override { return false; }
};
}  // namespace

int main(int argc, char** argv) {
  ConsoleHost host;
  instance::TOneInstance guard(host);
  guard.Loaded();
  std::cout << (guard.OwnsMutex() ? "first" : "later") << std::endl;
  if (argc > 1 && std::string(argv[1]) == "hold" && guard.OwnsMutex()) {
    std::string line;
    while (std::getline(std::cin, line)) {
    }
  }
  return 0;
}

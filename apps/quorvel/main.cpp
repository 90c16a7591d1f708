#include <cstdio>
#include <exception>
#include <iostream>

#include "platform/System.h"
#include "quorvel/Cli.h"

int main(int argc, char** argv) {
  try {
    std::vector<std::string> args(argv + 1, argv + argc);
    return quorvel::Run(args, std::cout, std::cerr, platform::StandardErrorIsTerminal(), true);
  } catch (...) {
    std::fputs("quorvel: an unexpected failure ended the program\n", stderr);
    return 1;
  }
}

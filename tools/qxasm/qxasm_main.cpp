// qxasm command line: qxasm [switches] LISTING -o OUTPUT
#include "qxasm.h"

#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>

namespace {

int usage(const char* prog) {
  std::cerr << "usage: " << prog << " [switches] LISTING -o OUTPUT\n"
            << "Without -c/-a/-z the mode follows the output name: .qxa applet, else chunk.\n"
            << qxAsmOptionHelp();
  return 2;
}

bool endsWith(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  qxAsmOptions options;
  std::string input, output;
  for (int i = 1; i < argc; i++) {
    std::string a = argv[i];
    if (a == "-o") {
      if (++i >= argc) return usage(argv[0]);
      output = argv[i];
    } else if (a == "-h" || a == "--help") {
      usage(argv[0]);
      return 0;
    } else if (a.size() > 1 && a[0] == '-') {
      std::string err = qxAsmApplyOption(options, a);
      if (!err.empty()) {
        std::cerr << "qxasm: " << err << "\n";
        return 2;
      }
    } else if (input.empty()) {
      input = a;
    } else {
      return usage(argv[0]);
    }
  }
  if (input.empty() || output.empty()) return usage(argv[0]);
  if (!options.modeGiven) options.mode = endsWith(output, ".qxa") ? qxAsmMode::Applet : qxAsmMode::Chunk;

  std::ifstream in(input, std::ios::binary);
  if (!in) {
    std::cerr << "qxasm: cannot read " << input << "\n";
    return 1;
  }
  std::stringstream text;
  text << in.rdbuf();
  qxAsmBytes bytes;
  try {
    bytes = qxAsmAssemble(text.str(), input, options);
  } catch (const qxAsmError& e) {
    std::cerr << e.what() << "\n";
    return 1;
  }
  std::ofstream out(output, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  out.close();
  if (!out) {
    std::cerr << "qxasm: cannot write " << output << "\n";
    std::remove(output.c_str());
    return 1;
  }
  return 0;
}

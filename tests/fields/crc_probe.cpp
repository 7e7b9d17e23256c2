// A small command-line front to the CRC engine, for the cross-check against another
// implementation (crc_crosscheck.py).
//   crc_probe --list      the catalogue, one model a line, as --list-crc shows it
//   crc_probe             reads lines "MODEL HEX" or "width,poly,init,refin,refout,xorout HEX"
//                         (numbers in hexadecimal, refin/refout 0 or 1) and prints each CRC
//                         in hexadecimal, one a line
#include <cstdio>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "fields/crc.h"

namespace {

std::vector<uint8_t> FromHex(const std::string& hex) {
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes.push_back(static_cast<uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace ostrel;
  if (argc > 1 && std::string(argv[1]) == "--list") {
    for (const CrcModel& model : CrcCatalogue()) std::cout << FormatCrcModel(model) << '\n';
    return 0;
  }
  std::string line;
  while (std::getline(std::cin, line)) {
    std::istringstream in(line);
    std::string model, hex;
    in >> model >> hex;
    uint64_t crc = 0;
    if (const CrcModel* named = FindCrcModel(model)) {
      crc = CatalogueCrc(*named).Compute(FromHex(hex));
    } else {
      CrcParams p;
      unsigned refin = 0, refout = 0;
      unsigned long long poly = 0, init = 0, xorout = 0;
      if (std::sscanf(model.c_str(), "%x,%llx,%llx,%u,%u,%llx", &p.width, &poly, &init, &refin,
                      &refout, &xorout) != 6) {
        std::cerr << "bad line: " << line << '\n';
        return 2;
      }
      p.poly = poly;
      p.init = init;
      p.xorout = xorout;
      p.refin = refin != 0;
      p.refout = refout != 0;
      if (auto problem = CheckCrcParams(p)) {
        std::cerr << *problem << '\n';
        return 2;
      }
      crc = Crc(p).Compute(FromHex(hex));
    }
    std::printf("%llx\n", static_cast<unsigned long long>(crc));
  }
  return 0;
}

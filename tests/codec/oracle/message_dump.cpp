// Prints what the whole-reply reader makes of one reply, for the oracle
// comparisons: "MALFORMED", or one line per record of every section,
// "SECTION<TAB>OWNER<TAB>TYPE<TAB>DATA", owner and data as NameTextOf and
// DataText give them.
//
//   message_dump FILE     (the reply's octets, as received)
#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

#include "codec/message.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: message_dump FILE\n");
    return 2;
  }
  std::ifstream file(argv[1], std::ios::binary);
  if (!file) {
    std::fprintf(stderr, "message_dump: cannot read %s\n", argv[1]);
    return 2;
  }
  const std::vector<std::uint8_t> octets((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  const auto message = vbDNS::ReadMessage(octets);
  if (!message) {
    std::printf("MALFORMED\n");
    return 0;
  }
  static const char* const SECTION_NAMES[] = {"ANSWER", "AUTHORITY", "ADDITIONAL"};
  for (int section = 0; section < 3; ++section) {
    for (const vbDNS::ResourceRecord& record : message->Records(static_cast<vbDNS::Section>(section))) {
      std::printf("%s\t%s\t%s\t%s\n", SECTION_NAMES[section], vbDNS::NameTextOf(*message, record.Owner).c_str(),
                  vbDNS::TypeMnemonic(record.Type).c_str(), vbDNS::DataText(*message, record).c_str());
    }
  }
  return 0;
}

// What the verification pass and the rows of the codec benchmark share.
#pragma once

#include <arpa/nameser.h>
#include <ldns/ldns.h>

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "codec/message.h"

namespace codec_bench {

// Every library's result on every fixture checked; false after reporting
// each mismatch on stderr. Counted in failures.
bool VerifyAll();
extern int g_failures;

// One record as ldns_rr2str prints it (owner, TTL, class, type, data).
std::string OurLine(const vbDNS::Message& message, const vbDNS::ResourceRecord& record);
// How many of the mix12 fixture's records c-ares's per-type parsers read.
int CaresMixCount(std::span<const std::uint8_t> bytes);
// The reverse name a c-ares or ldns caller builds from address text.
bool ReverseNameOf(const char* text, char (&out)[32]);

}  // namespace codec_bench

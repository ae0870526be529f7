#include "exchange/core/stream_mux.h"

#include <algorithm>
#include <cstring>

namespace vavizav::exchange {

std::size_t EncodePaddedStreamQuery(const vbDNS::DNSQuery& query, std::uint16_t id, PaddedStreamQuery& out) noexcept {
  vbDNS::DNSQuery withOpt = query;
  if (withOpt.EdnsUdpSize == 0) withOpt.EdnsUdpSize = vbDNS::EDNS_UDP_SIZE;
  const std::size_t size = vbDNS::EncodeQuery(withOpt, id, std::span(out).subspan(2));
  if (size < vbDNS::HEADER_SIZE + vbDNS::OPT_RECORD_SIZE) return 0;
  // The OPT record ends the message with an empty RDATA: its RDLENGTH is the
  // last two octets. The option's header and zeros follow it.
  const std::size_t unpadded = size + PADDING_OPTION_HEADER;
  const std::size_t zeros = (PADDING_BLOCK - unpadded % PADDING_BLOCK) % PADDING_BLOCK;
  const std::size_t padded = unpadded + zeros;
  if (2 + padded > out.size()) return 0;
  const std::size_t rdlength = PADDING_OPTION_HEADER + zeros;
  std::uint8_t* message = out.data() + 2;
  message[size - 2] = static_cast<std::uint8_t>(rdlength >> 8);
  message[size - 1] = static_cast<std::uint8_t>(rdlength);
  message[size] = 0;
  message[size + 1] = EDNS_OPTION_PADDING;
  message[size + 2] = static_cast<std::uint8_t>(zeros >> 8);
  message[size + 3] = static_cast<std::uint8_t>(zeros);
  std::memset(message + unpadded, 0, zeros);
  out[0] = static_cast<std::uint8_t>(padded >> 8);
  out[1] = static_cast<std::uint8_t>(padded);
  return 2 + padded;
}

std::optional<std::uint16_t> StreamMux::Reserve(std::uint32_t ticket, RandomPool& random) {
  if (waiting_.size() >= MAX_IN_FLIGHT) return std::nullopt;
  // At most 4096 of 65536 taken: a few draws at most.
  for (int draw = 0; draw < 32; ++draw) {
    const std::optional<std::uint16_t> id = random.Next16();
    if (!id) return std::nullopt;
    if (waiting_.emplace(*id, ticket).second) return id;
  }
  return std::nullopt;
}

void StreamMux::Release(std::uint16_t id) { waiting_.erase(id); }

std::vector<StreamMux::Reply> StreamMux::Feed(vbDNS::PacketView octets) {
  std::vector<Reply> replies;
  while (!broken_ && !octets.empty()) {
    const std::size_t taken = in_.Feed(octets);
    octets = octets.subspan(taken);
    if (in_.Refused()) {
      broken_ = true;
      break;
    }
    if (!in_.Complete()) break;
    vbDNS::Packet message = in_.TakeMessage();
    in_ = vbDNS::StreamMessage();
    const std::optional<std::uint16_t> id = vbDNS::ReplyId(message);
    const auto found = id ? waiting_.find(*id) : waiting_.end();
    if (found == waiting_.end()) {
      if (++strays_ >= MAX_STRAYS) broken_ = true;
      continue;
    }
    replies.push_back({found->second, *id, std::move(message)});
    waiting_.erase(found);
  }
  return replies;
}

std::vector<std::uint32_t> StreamMux::Waiting() const {
  std::vector<std::uint32_t> tickets;
  tickets.reserve(waiting_.size());
  for (const auto& [id, ticket] : waiting_) tickets.push_back(ticket);
  std::sort(tickets.begin(), tickets.end());
  return tickets;
}

}  // namespace vavizav::exchange

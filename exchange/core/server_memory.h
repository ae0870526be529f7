// What an object has learnt of its DNS servers, kept between its calls and
// shared by every question of a call: how fast each answers, how many
// questions in a row it left unanswered, when it last answered, whether it
// folds the letter case of names, and whether it knows EDNS.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vavizav::exchange {

struct ServerState {
  std::optional<std::uint64_t> SmoothedRttMs;
  // Sends to it that met their resend or the question's end without a reply
  // from it, since its last reply.
  unsigned Unanswered = 0;
  std::optional<std::uint64_t> LastAnswer;  // on the exchange's clock
  std::optional<std::uint64_t> LastProbe;
  // Repeats question names only without regard to case: asked in the
  // caller's spelling, its folded echo taken (found once, kept).
  bool FoldsCase = false;
  // Answered a query with an OPT record without one, or with FORMERR or
  // NOTIMP and none (RFC 6891 section 7): asked without OPT from then on.
  bool NoEdns = false;
};

// Servers by their text ("127.0.0.1", "[::1]:5300"), at most MAX_SERVERS of
// them: past that the one used longest ago is forgotten. Not thread-safe; an
// object's calls run on its thread.
class ServerMemory {
 public:
  static constexpr std::size_t MAX_SERVERS = 64;

  // The state of `server`, added fresh when unknown. A call holds it for its
  // length: a state forgotten meanwhile lives on for the call.
  std::shared_ptr<ServerState> For(std::wstring_view server);
  const ServerState* Find(std::wstring_view server) const;
  std::size_t Size() const { return servers_.size(); }

  // A copy with states of its own, for calls on another thread; what they
  // learn comes back through Merge, on this memory's thread.
  ServerMemory Copy() const;
  // Writes what the servers asked through `learnt` (a Copy of this memory)
  // taught it over this memory's states; servers it did not ask keep theirs.
  void Merge(const ServerMemory& learnt);

 private:
  struct Entry {
    std::wstring Server;
    std::shared_ptr<ServerState> State;
    std::uint64_t Used = 0;
  };
  std::vector<Entry> servers_;
  std::uint64_t uses_ = 0;
  std::uint64_t copiedAt_ = 0;  // a Copy: uses_ when it was made
};

}  // namespace vavizav::exchange

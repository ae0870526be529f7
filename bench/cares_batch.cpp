// The peer row of the batch benchmark: c-ares, natively, drives N distinct A
// questions against one DNS server with a window of W outstanding queries (a
// counter: every answer or failure starts the next question), its sockets
// watched with poll() and handed to ares_process_fd. Every answer is checked
// against the address the delaying responder derives from the name
// (hN.* -> 10.(N>>16&255).(N>>8&255).(N&255)).
//
//   cares_batch SERVER [--port P] [--count N] [--window W] [--timeout-ms T] [--tries K]
//               [--label TEXT]
//
// c-ares waits T ms for the first try and doubles it for each later one
// (with one server), so --timeout-ms 500 --tries 3 sends at 0, 500 and
// 1500 ms, the schedule the component uses for a 2000 ms time-out.
// Prints "key value unit note" lines, as the Wine bench does; exit 1 when a
// question went unanswered or an answer was wrong.
#include <arpa/inet.h>
#include <ares.h>
#include <poll.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Watched {
  ares_socket_t Socket;
  bool Read, Write;
};

struct Batch {
  ares_channel Channel = nullptr;
  int Count = 10000, Window = 64, Next = 0, Done = 0, Answered = 0, Wrong = 0, Failed = 0;
  std::vector<std::string> Names;
  std::vector<Watched> Sockets;
};

void SocketState(void* data, ares_socket_t socket, int readable, int writable) {
  auto& sockets = static_cast<Batch*>(data)->Sockets;
  for (auto it = sockets.begin(); it != sockets.end(); ++it) {
    if (it->Socket != socket) continue;
    if (!readable && !writable) {
      sockets.erase(it);
    } else {
      it->Read = readable;
      it->Write = writable;
    }
    return;
  }
  if (readable || writable) sockets.push_back({socket, readable != 0, writable != 0});
}

void Launch(Batch& batch);

void Answered(void* arg, int status, int /*timeouts*/, unsigned char* reply, int length) {
  auto* context = static_cast<std::pair<Batch*, int>*>(arg);
  Batch& batch = *context->first;
  const int n = context->second;
  delete context;
  ++batch.Done;
  if (status != ARES_SUCCESS) {
    ++batch.Failed;
  } else {
    ares_addrttl addresses[4];
    int count = 4;
    if (ares_parse_a_reply(reply, length, nullptr, addresses, &count) == ARES_SUCCESS && count == 1 &&
        ntohl(addresses[0].ipaddr.s_addr) == (0x0A000000u | static_cast<unsigned>(n))) {
      ++batch.Answered;
    } else {
      ++batch.Wrong;
    }
  }
  if (status != ARES_EDESTRUCTION) Launch(batch);
}

void Launch(Batch& batch) {
  if (batch.Next >= batch.Count) return;
  const int n = batch.Next++;
  ares_query(batch.Channel, batch.Names[n].c_str(), 1 /* IN */, 1 /* A */, Answered, new std::pair<Batch*, int>(&batch, n));
}

int Usage(const char* problem) {
  std::fprintf(stderr,
               "cares_batch: %s\nusage: cares_batch SERVER [--port P] [--count N] [--window W] [--timeout-ms T] "
               "[--tries K] [--label TEXT]\n",
               problem);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage("no server");
  const std::string server = argv[1];
  int port = 53, timeoutMs = 2000, tries = 1;
  std::string label = "cares";
  Batch batch;
  for (int i = 2; i < argc; i += 2) {
    if (i + 1 == argc) return Usage("an option without its value");
    const std::string option = argv[i];
    const char* value = argv[i + 1];
    if (option == "--label") {
      label = value;
      continue;
    }
    char* end = nullptr;
    const long number = std::strtol(value, &end, 10);
    if (end == value || *end != 0) return Usage("options take whole numbers");
    if (option == "--port" && number >= 1 && number <= 65535) port = static_cast<int>(number);
    else if (option == "--count" && number >= 1 && number <= 0xFFFFFF) batch.Count = static_cast<int>(number);
    else if (option == "--window" && number >= 1 && number <= 1024) batch.Window = static_cast<int>(number);
    else if (option == "--timeout-ms" && number >= 1 && number <= 60000) timeoutMs = static_cast<int>(number);
    else if (option == "--tries" && number >= 1 && number <= 10) tries = static_cast<int>(number);
    else return Usage("bad option or value");
  }
  in_addr probe{};
  if (inet_pton(AF_INET, server.c_str(), &probe) != 1 || (ntohl(probe.s_addr) >> 24) != 127)
    return Usage("the server must be an IPv4 loopback address");

  for (int n = 0; n < batch.Count; ++n) batch.Names.push_back("h" + std::to_string(n) + ".batch.vavizav.test");

  if (ares_library_init(ARES_LIB_INIT_ALL) != ARES_SUCCESS) return Usage("ares_library_init failed");
  ares_options options{};
  options.timeout = timeoutMs;
  options.tries = tries;
  options.sock_state_cb = SocketState;
  options.sock_state_cb_data = &batch;
  options.lookups = const_cast<char*>("b");
  options.flags = ARES_FLAG_NOSEARCH;
  if (ares_init_options(&batch.Channel, &options,
                        ARES_OPT_TIMEOUTMS | ARES_OPT_TRIES | ARES_OPT_SOCK_STATE_CB | ARES_OPT_LOOKUPS |
                            ARES_OPT_FLAGS) != ARES_SUCCESS)
    return Usage("ares_init_options failed");
  const std::string servers = server + ":" + std::to_string(port);
  if (ares_set_servers_ports_csv(batch.Channel, servers.c_str()) != ARES_SUCCESS)
    return Usage("ares_set_servers_ports_csv failed");

  const auto start = std::chrono::steady_clock::now();
  const auto limit = start + std::chrono::seconds(120);  // bounded whatever the server does
  for (int i = 0; i < batch.Window; ++i) Launch(batch);
  std::vector<pollfd> polled;
  while (batch.Done < batch.Count && std::chrono::steady_clock::now() < limit) {
    polled.clear();
    for (const Watched& w : batch.Sockets)
      polled.push_back({w.Socket, static_cast<short>((w.Read ? POLLIN : 0) | (w.Write ? POLLOUT : 0)), 0});
    timeval wait{1, 0}, longest{1, 0};
    ares_timeout(batch.Channel, &longest, &wait);
    const int ms = static_cast<int>(wait.tv_sec * 1000 + (wait.tv_usec + 999) / 1000);
    const int ready = poll(polled.data(), polled.size(), ms);
    if (ready <= 0) {
      ares_process_fd(batch.Channel, ARES_SOCKET_BAD, ARES_SOCKET_BAD);  // time-outs only
      continue;
    }
    for (const pollfd& p : polled) {
      if (p.revents == 0) continue;
      ares_process_fd(batch.Channel, (p.revents & (POLLIN | POLLERR | POLLHUP)) ? p.fd : ARES_SOCKET_BAD,
                      (p.revents & POLLOUT) ? p.fd : ARES_SOCKET_BAD);
    }
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  ares_destroy(batch.Channel);
  ares_library_cleanup();

  std::printf("%s.wall %.3f s %d questions, window %d, first try %d ms, %d tries (c-ares %s)\n", label.c_str(),
              seconds, batch.Count, batch.Window, timeoutMs, tries, ares_version(nullptr));
  std::printf("%s.answered_right %d questions of %d; wrong %d, unanswered %d\n", label.c_str(), batch.Answered,
              batch.Count, batch.Wrong, batch.Failed + (batch.Count - batch.Done));
  std::printf("%s.per_second %.0f questions/s\n", label.c_str(), batch.Count / seconds);
  return batch.Answered == batch.Count ? 0 : 1;
}

/* A native DNS peer beside the Wine tests, on a loopback address of its own
 * (Wine binds a socket meant for 127.0.0.x to 0.0.0.0, and a flood must outrun
 * the receiver, which only native code does).
 *
 *   net_peer ADDRESS
 *
 * UDP on ADDRESS ports 53 and 5301, TCP on ADDRESS port 53 only (so a TCP
 * connection to port 5301 is refused). What it does depends on the first label
 * of the question's name:
 *   flood.*  UDP: answers with copies of the reply that carry a wrong ID, as
 *            fast as the loopback takes them, for FLOOD_MS after each query.
 *   other    UDP: a reply with TC set and one A record, 192.0.2.1 (what a
 *            server that cuts a long answer sends).
 *   TCP, by the same label:
 *   whole.*    the reply with 40 A records, 10.0.0.1 to 10.0.0.40 in order;
 *   dribble.*  3 A records (10.0.0.1 to 10.0.0.3), one octet per segment;
 *   short.*    a length prefix 50 octets longer than what follows, then close;
 *   wrongid.*  the 40-record reply with the ID changed;
 *   closed.*   close without a reply;
 *   silent.*   never answers (holds the connection until the client closes).
 * Runs until killed. */
#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#define FLOOD_MS 2500
#define HEADER 12

static long long now_ms(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (long long)t.tv_sec * 1000 + t.tv_nsec / 1000000;
}

static int open_socket(const char *address, int port, int type) {
  struct sockaddr_in where;
  memset(&where, 0, sizeof where);
  where.sin_family = AF_INET;
  where.sin_port = htons((unsigned short)port);
  if (inet_pton(AF_INET, address, &where.sin_addr) != 1) return -1;
  int s = socket(AF_INET, type, 0);
  int on = 1;
  setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  if (s < 0 || bind(s, (struct sockaddr *)&where, sizeof where) != 0) return -1;
  if (type == SOCK_STREAM && listen(s, 16) != 0) return -1;
  return s;
}

/* The end of the question (after QTYPE and QCLASS), 0 when the query is malformed. */
static size_t question_end(const unsigned char *q, size_t n) {
  size_t at = HEADER;
  while (at < n && q[at] != 0) {
    if (q[at] > 63) return 0;
    at += q[at] + 1u;
  }
  return at + 5 <= n ? at + 5 : 0;
}

/* Names compare without regard to case: queries come in random case. */
static int label_is(const unsigned char *q, size_t n, const char *label) {
  size_t length = strlen(label);
  return n > HEADER + length && q[HEADER] == length && strncasecmp((const char *)q + HEADER + 1, label, length) == 0;
}

/* The reply to query q: header and question as asked, `count` A records
 * 10.0.0.1 upwards (or 192.0.2.1 when `count` is 0 and `tc` is set). */
static size_t make_reply(const unsigned char *q, size_t n, int count, int tc, unsigned char *out) {
  size_t end = question_end(q, n);
  if (end == 0) return 0;
  memcpy(out, q, end);
  out[2] = (unsigned char)(0x80 | (q[2] & 0x01) | (tc ? 0x02 : 0));
  out[3] = 0x80;
  out[6] = 0;
  out[7] = (unsigned char)(tc ? 1 : count);
  out[8] = out[9] = out[10] = out[11] = 0;
  size_t at = end;
  int records = tc ? 1 : count;
  for (int i = 1; i <= records; ++i) {
    /* owner: pointer to the question name; type A, class IN, TTL 300, RDLENGTH 4 */
    const unsigned char fixed[] = {0xC0, 0x0C, 0, 1, 0, 1, 0, 0, 0x01, 0x2C, 0, 4};
    memcpy(out + at, fixed, sizeof fixed);
    at += sizeof fixed;
    if (tc) {
      const unsigned char a[] = {192, 0, 2, 1};
      memcpy(out + at, a, 4);
    } else {
      const unsigned char a[] = {10, 0, 0, (unsigned char)i};
      memcpy(out + at, a, 4);
    }
    at += 4;
  }
  return at;
}

static int read_all(int s, unsigned char *buffer, size_t n) {
  size_t have = 0;
  while (have < n) {
    ssize_t got = read(s, buffer + have, n - have);
    if (got <= 0) return -1;
    have += (size_t)got;
  }
  return 0;
}

static void write_all(int s, const unsigned char *buffer, size_t n) {
  while (n > 0) {
    ssize_t put = write(s, buffer, n);
    if (put <= 0) return;
    buffer += put;
    n -= (size_t)put;
  }
}

static void serve_tcp(int s) {
  unsigned char prefix[2], query[65535], reply[65600];
  if (read_all(s, prefix, 2) != 0) return;
  size_t n = (size_t)prefix[0] << 8 | prefix[1];
  if (read_all(s, query, n) != 0) return;
  if (label_is(query, n, "silent")) {
    while (read(s, query, sizeof query) > 0) {
    }
    return;
  }
  if (label_is(query, n, "closed")) return;
  int dribble = label_is(query, n, "dribble");
  size_t length = make_reply(query, n, dribble ? 3 : 40, 0, reply + 2);
  if (length == 0) return;
  if (label_is(query, n, "wrongid")) reply[3] ^= 0x01;
  size_t announced = label_is(query, n, "short") ? length + 50 : length;
  reply[0] = (unsigned char)(announced >> 8);
  reply[1] = (unsigned char)announced;
  if (dribble) {
    int on = 1;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    for (size_t i = 0; i < length + 2; ++i) {
      write_all(s, reply + i, 1);
      usleep(2000);
    }
  } else {
    write_all(s, reply, length + 2);
  }
  if (announced != length) return; /* closed short of what the prefix promised */
  /* Waits for the client to close first, so that the reply is never cut by a reset. */
  struct pollfd wait = {s, POLLIN, 0};
  poll(&wait, 1, 5000);
}

int main(int argc, char **argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: net_peer ADDRESS\n");
    return 2;
  }
  signal(SIGCHLD, SIG_IGN);
  signal(SIGPIPE, SIG_IGN);
  struct pollfd fds[3] = {{open_socket(argv[1], 53, SOCK_DGRAM), POLLIN, 0},
                          {open_socket(argv[1], 5301, SOCK_DGRAM), POLLIN, 0},
                          {open_socket(argv[1], 53, SOCK_STREAM), POLLIN, 0}};
  for (int i = 0; i < 3; ++i) {
    if (fds[i].fd < 0) {
      perror("net_peer: socket");
      return 1;
    }
  }
  unsigned char query[65536], reply[65600], flood[65600];
  size_t flood_length = 0;
  struct sockaddr_storage target;
  socklen_t target_length = 0;
  int flood_socket = -1;
  long long flood_until = 0;
  printf("ready\n");
  fflush(stdout);
  for (;;) {
    int flooding = flood_length > 0 && now_ms() < flood_until;
    if (poll(fds, 3, flooding ? 0 : 1000) < 0 && errno != EINTR) return 1;
    for (int i = 0; i < 2; ++i) {
      if (!(fds[i].revents & POLLIN)) continue;
      struct sockaddr_storage from;
      socklen_t from_length = sizeof from;
      ssize_t n = recvfrom(fds[i].fd, query, sizeof query, MSG_DONTWAIT, (struct sockaddr *)&from, &from_length);
      if (n < HEADER) continue;
      if (label_is(query, (size_t)n, "flood")) {
        flood_length = make_reply(query, (size_t)n, 1, 0, flood);
        if (flood_length == 0) continue;
        flood[0] ^= 0x55; /* never the ID that was asked */
        target = from;
        target_length = from_length;
        flood_socket = fds[i].fd;
        flood_until = now_ms() + FLOOD_MS;
      } else {
        size_t length = make_reply(query, (size_t)n, 0, 1, reply);
        if (length > 0) sendto(fds[i].fd, reply, length, 0, (struct sockaddr *)&from, from_length);
      }
    }
    if (fds[2].revents & POLLIN) {
      int connection = accept(fds[2].fd, NULL, NULL);
      if (connection >= 0) {
        if (fork() == 0) {
          close(fds[0].fd);
          close(fds[1].fd);
          close(fds[2].fd);
          serve_tcp(connection);
          close(connection);
          _exit(0);
        }
        close(connection);
      }
    }
    if (flooding) {
      for (int i = 0; i < 256; ++i) {
        sendto(flood_socket, flood, flood_length, MSG_DONTWAIT, (struct sockaddr *)&target, target_length);
      }
    }
  }
}

/* A native DNS responder for batches of queries: every answer leaves a set
 * delay after its query arrived, and a set share of the UDP queries is never
 * answered. Loopback only, single-threaded (epoll + a timerfd), bounded in
 * lifetime.
 *
 *   delay_responder --address A [--port P] [--delay-ms D] [--drop-percent X]
 *                   [--seed S] [--lifetime-s T] [--fold-case] [--truncate]
 *
 *   --address       127.0.0.0/8 or ::1; UDP and TCP on that address, port P (53)
 *   --delay-ms      0..60000 (default 5): each reply is sent D ms after its query
 *                   arrived. The delay is the same for every query, so replies
 *                   fall due in the order their queries came: a FIFO is the
 *                   whole schedule, and one timerfd is armed for its head.
 *   --drop-percent  0..100 (default 0, fractions allowed): the k-th UDP arrival
 *                   of a question (name without regard to case, type, class;
 *                   k counted from 0) is dropped when a hash of (seed, question,
 *                   k) falls below X %. So the same seed drops the same
 *                   attempts of the same questions whatever the timing, and a
 *                   resent question gets a fresh draw. TCP queries and queries
 *                   without a readable question are never dropped. The
 *                   attempt counts live in a table of MAX_QUESTIONS entries,
 *                   cleared when it fills (at exit the log says how often).
 *   --seed          any 64-bit number (default 1)
 *   --lifetime-s    1..3600 (default 60): exits after T seconds (or on SIGTERM
 *                   or SIGINT) and prints what it did.
 *   --fold-case     the question goes back lower-cased (as some servers do to a
 *                   name sent in mixed case); otherwise octet for octet.
 *   --truncate      UDP replies carry TC and no answers; TCP answers in full.
 *
 * Answers: QR set, opcode and RD echoed, AA and RA set, NOERROR, one question
 * (the query's own). An A question of class IN gets one A record, TTL 300,
 * owner a pointer to the question name: names whose first label is "hN" (N
 * decimal, 0..16777215, 'h' in either case) get 10.(N>>16&255).(N>>8&255).(N&255);
 * any other name gets 198.18.0.0/15 plus a hash of the name without regard
 * to case. Every other question gets NOERROR and no records.
 * Not answered: datagrams shorter than a header and replies (QR set).
 * Answered with the header only: FORMERR for QDCOUNT other than 1 or a
 * question that is malformed (pointers, labels past 63, name past 255
 * octets, cut short); NOTIMP for opcodes other than QUERY.
 * Additional records of the query (an OPT) are not read and not echoed.
 *
 * TCP: each connection carries length-prefixed queries back to back
 * (pipelined); each reply is written, with its prefix, D ms after its query was
 * read, in arrival order. At most MAX_CONNECTIONS connections at once.
 *
 * Prints "ready" on stdout once both sockets listen, and at exit one line
 * "received N answered N dropped N formerr N overflow N tcp-queries N
 * attempt-table-clears N". */
#define _GNU_SOURCE
#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/timerfd.h>
#include <time.h>
#include <unistd.h>

#define HEADER 12
#define MAX_NAME 255
/* header + question (name, type, class) + one A record (pointer, fixed part, address) */
#define MAX_REPLY (HEADER + MAX_NAME + 4 + 16)
#define MAX_QUERY 65535
#define BATCH 64
#define MAX_CONNECTIONS 256
#define MAX_PENDING (1u << 20)
#define MAX_QUESTIONS (1u << 20) /* the attempt table holds twice as many slots */

enum { SOURCE_UDP = 1, SOURCE_TCP_LISTEN, SOURCE_TIMER, SOURCE_SIGNAL_PIPE, SOURCE_CONNECTION };

struct settings {
  const char *address;
  int port;
  long delay_ms;
  double drop_percent;
  uint64_t seed;
  long lifetime_s;
  int fold_case;
  int truncate;
};

struct pending {
  int64_t due_ns;
  int connection;            /* -1 for UDP */
  uint32_t generation;       /* the connection's, to skip replies to a closed one */
  socklen_t peer_length;
  struct sockaddr_storage peer;
  uint16_t length;           /* of the reply, without the TCP prefix */
  unsigned char reply[2 + MAX_REPLY]; /* two octets kept free for the TCP prefix */
};

struct connection {
  int fd;                    /* -1 when the slot is free */
  uint32_t generation;
  size_t in_length;
  unsigned char *in;         /* 2 + MAX_QUERY octets */
  unsigned char *out;
  size_t out_length, out_capacity;
  int wants_out;
};

struct counts {
  unsigned long long received, answered, dropped, formerr, overflow, tcp_queries;
};

static struct settings config = {NULL, 53, 5, 0.0, 1, 60, 0, 0};
static struct counts counts;
static struct pending *queue;
static size_t queue_capacity, queue_head, queue_size;
static struct connection connections[MAX_CONNECTIONS];
static int epoll_fd, udp_fd, listen_fd, timer_fd;
static int signal_pipe[2];
struct attempts {
  uint64_t key; /* 0: a free slot */
  uint32_t count;
};
static struct attempts *attempt_table; /* 2 * MAX_QUESTIONS slots, open addressing */
static size_t attempt_entries;
static unsigned long long attempt_table_clears;

static int64_t now_ns(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (int64_t)t.tv_sec * 1000000000 + t.tv_nsec;
}

static uint64_t mix(uint64_t x) { /* splitmix64's finaliser */
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

static unsigned char lower(unsigned char c) { return c >= 'A' && c <= 'Z' ? (unsigned char)(c + 32) : c; }

/* A 64-bit key for the question of query q (n octets): its name without
 * regard to case, type and class; 0 when no question can be read. */
static uint64_t question_key(const unsigned char *q, size_t n) {
  if (n < HEADER || q[4] != 0 || q[5] != 1) return 0;
  uint64_t hash = 14695981039346656037ull; /* FNV-1a */
  size_t at = HEADER;
  while (at < n && q[at] != 0) {
    if (q[at] > 63 || at + q[at] + 1u > n) return 0;
    for (size_t i = at; i <= at + q[at]; ++i) hash = (hash ^ lower(q[i])) * 1099511628211ull;
    at += q[at] + 1u;
  }
  if (at + 5 > n) return 0;
  for (size_t i = at; i < at + 5; ++i) hash = (hash ^ q[i]) * 1099511628211ull;
  return hash | 1; /* never 0 */
}

/* How often this question arrived before (0 the first time), counting this one. */
static uint32_t next_attempt(uint64_t key) {
  const size_t slots = 2 * (size_t)MAX_QUESTIONS;
  if (attempt_table == NULL) {
    attempt_table = calloc(slots, sizeof *attempt_table);
    if (attempt_table == NULL) return 0;
  }
  if (attempt_entries >= MAX_QUESTIONS) {
    memset(attempt_table, 0, slots * sizeof *attempt_table);
    attempt_entries = 0;
    ++attempt_table_clears;
  }
  size_t i = (size_t)mix(key) & (slots - 1);
  while (attempt_table[i].key != 0 && attempt_table[i].key != key) i = (i + 1) & (slots - 1);
  if (attempt_table[i].key == 0) {
    attempt_table[i].key = key;
    ++attempt_entries;
  }
  return attempt_table[i].count++;
}

static int dropped(const unsigned char *q, size_t n) {
  if (config.drop_percent <= 0) return 0;
  uint64_t key = question_key(q, n);
  if (key == 0) return 0;
  uint64_t attempt = next_attempt(key);
  uint64_t draw_bits = mix(config.seed ^ mix(key ^ mix(attempt)));
  double draw = (double)(draw_bits >> 11) / 9007199254740992.0; /* [0, 1) */
  return draw * 100.0 < config.drop_percent;
}

/* The address for a name in wire form (already checked). */
static uint32_t address_for(const unsigned char *name) {
  unsigned length = name[0];
  if (length >= 2 && length <= 9 && lower(name[1]) == 'h') {
    uint32_t n = 0;
    unsigned i = 2;
    for (; i <= length && name[i] >= '0' && name[i] <= '9'; ++i) n = n * 10 + (uint32_t)(name[i] - '0');
    if (i > length && n <= 0xFFFFFF) return 0x0A000000u | n;
  }
  uint32_t hash = 2166136261u; /* FNV-1a over the name's octets, lower-cased */
  for (const unsigned char *at = name; *at != 0; at += *at + 1)
    for (unsigned i = 0; i <= *at; ++i) hash = (hash ^ lower(at[i])) * 16777619u;
  return 0xC6120000u | (hash & 0x1FFFF); /* 198.18.0.0/15 */
}

/* Fills `out` with the reply to query q of n octets; returns its length, or 0
 * when the query gets no reply at all. */
static size_t make_reply(const unsigned char *q, size_t n, int truncated, unsigned char *out) {
  if (n < HEADER || (q[2] & 0x80) != 0) return 0;
  memcpy(out, q, 2);                                  /* ID */
  out[2] = (unsigned char)(0x80 | (q[2] & 0x79) | 0x04); /* QR, opcode, AA, RD */
  out[3] = 0x80;                                      /* RA, NOERROR */
  memset(out + 4, 0, 8);
  unsigned opcode = (q[2] >> 3) & 0x0F;
  if (opcode != 0) {
    out[3] |= 4; /* NOTIMP */
    return HEADER;
  }
  size_t at = HEADER, name_octets = 0;
  int well_formed = q[4] == 0 && q[5] == 1;
  while (well_formed && at < n && q[at] != 0) {
    if (q[at] > 63) { well_formed = 0; break; }
    name_octets += q[at] + 1u;
    at += q[at] + 1u;
  }
  if (well_formed && (at + 5 > n || name_octets + 1 > MAX_NAME)) well_formed = 0;
  if (!well_formed) {
    out[3] |= 1; /* FORMERR */
    ++counts.formerr;
    return HEADER;
  }
  size_t question_end = at + 5;
  memcpy(out + HEADER, q + HEADER, question_end - HEADER);
  if (config.fold_case)
    for (size_t i = HEADER; i < at; i += out[i] + 1u)
      for (size_t j = i + 1; j <= i + out[i]; ++j) out[j] = lower(out[j]);
  out[5] = 1;
  uint16_t type = (uint16_t)(q[at + 1] << 8 | q[at + 2]), klass = (uint16_t)(q[at + 3] << 8 | q[at + 4]);
  if (type != 1 || klass != 1) return question_end;
  if (truncated) {
    out[2] |= 0x02;
    return question_end;
  }
  out[7] = 1;
  uint32_t a = address_for(q + HEADER);
  const unsigned char record[16] = {0xC0, 0x0C, 0, 1, 0, 1, 0, 0, 0x01, 0x2C, 0, 4,
                                    (unsigned char)(a >> 24), (unsigned char)(a >> 16),
                                    (unsigned char)(a >> 8), (unsigned char)a};
  memcpy(out + question_end, record, sizeof record);
  return question_end + sizeof record;
}

/* The queue's next free slot (growing it by doubling), NULL when full. */
static struct pending *queue_push(void) {
  if (queue_size == queue_capacity) {
    if (queue_capacity >= MAX_PENDING) return NULL;
    size_t capacity = queue_capacity ? queue_capacity * 2 : 1024;
    struct pending *grown = malloc(capacity * sizeof *grown);
    if (grown == NULL) return NULL;
    for (size_t i = 0; i < queue_size; ++i) grown[i] = queue[(queue_head + i) % queue_capacity];
    free(queue);
    queue = grown;
    queue_capacity = capacity;
    queue_head = 0;
  }
  return &queue[(queue_head + queue_size) % queue_capacity];
}

static void arm_timer(void) {
  struct itimerspec when;
  memset(&when, 0, sizeof when);
  if (queue_size > 0) {
    int64_t due = queue[queue_head].due_ns;
    if (due <= 0) due = 1;
    when.it_value.tv_sec = due / 1000000000;
    when.it_value.tv_nsec = due % 1000000000;
  }
  timerfd_settime(timer_fd, TFD_TIMER_ABSTIME, &when, NULL);
}

static void watch(int fd, uint32_t events, uint64_t tag) {
  struct epoll_event e;
  e.events = events;
  e.data.u64 = tag;
  epoll_ctl(epoll_fd, EPOLL_CTL_ADD, fd, &e);
}

static void close_connection(int index) {
  struct connection *c = &connections[index];
  if (c->fd < 0) return;
  epoll_ctl(epoll_fd, EPOLL_CTL_DEL, c->fd, NULL);
  close(c->fd);
  c->fd = -1;
  ++c->generation;
  free(c->in);
  free(c->out);
  c->in = c->out = NULL;
  c->in_length = c->out_length = c->out_capacity = 0;
}

static void set_wants_out(int index, int wants) {
  struct connection *c = &connections[index];
  if (c->wants_out == wants) return;
  struct epoll_event e;
  e.events = EPOLLIN | (wants ? EPOLLOUT : 0);
  e.data.u64 = (uint64_t)SOURCE_CONNECTION << 32 | (uint32_t)index;
  epoll_ctl(epoll_fd, EPOLL_CTL_MOD, c->fd, &e);
  c->wants_out = wants;
}

/* Writes what the connection has buffered; closes it on a hard error. */
static void flush_connection(int index) {
  struct connection *c = &connections[index];
  size_t done = 0;
  while (done < c->out_length) {
    ssize_t put = send(c->fd, c->out + done, c->out_length - done, MSG_NOSIGNAL);
    if (put < 0) {
      if (errno == EAGAIN || errno == EWOULDBLOCK) break;
      if (errno == EINTR) continue;
      close_connection(index);
      return;
    }
    done += (size_t)put;
  }
  memmove(c->out, c->out + done, c->out_length - done);
  c->out_length -= done;
  set_wants_out(index, c->out_length > 0);
}

static void send_to_connection(int index, const unsigned char *data, size_t length) {
  struct connection *c = &connections[index];
  if (c->out_length + length > c->out_capacity) {
    size_t capacity = c->out_capacity ? c->out_capacity : 4096;
    while (capacity < c->out_length + length) capacity *= 2;
    if (capacity > ((size_t)64 << 20)) { /* a client that never reads */
      close_connection(index);
      return;
    }
    unsigned char *grown = realloc(c->out, capacity);
    if (grown == NULL) {
      close_connection(index);
      return;
    }
    c->out = grown;
    c->out_capacity = capacity;
  }
  memcpy(c->out + c->out_length, data, length);
  c->out_length += length;
  if (!c->wants_out) flush_connection(index);
}

/* Sends every reply that has fallen due, UDP ones in batches. */
static void send_due(void) {
  int64_t now = now_ns();
  struct mmsghdr messages[BATCH];
  struct iovec parts[BATCH];
  int batched = 0;
  while (queue_size > 0 && queue[queue_head].due_ns <= now) {
    struct pending *p = &queue[queue_head];
    if (p->connection < 0) {
      parts[batched].iov_base = p->reply + 2;
      parts[batched].iov_len = p->length;
      memset(&messages[batched], 0, sizeof messages[batched]);
      messages[batched].msg_hdr.msg_name = &p->peer;
      messages[batched].msg_hdr.msg_namelen = p->peer_length;
      messages[batched].msg_hdr.msg_iov = &parts[batched];
      messages[batched].msg_hdr.msg_iovlen = 1;
      ++batched;
    } else if (connections[p->connection].fd >= 0 && connections[p->connection].generation == p->generation) {
      p->reply[0] = (unsigned char)(p->length >> 8);
      p->reply[1] = (unsigned char)p->length;
      send_to_connection(p->connection, p->reply, p->length + 2u);
    }
    ++counts.answered;
    queue_head = (queue_head + 1) % queue_capacity;
    --queue_size;
    /* A batch's entries stay valid until it is sent: the queue only grows in
     * the receive path, never here. */
    if (batched == BATCH) {
      for (int sent = 0; sent < batched;) {
        int r = sendmmsg(udp_fd, messages + sent, (unsigned)(batched - sent), 0);
        if (r <= 0) break; /* a full socket buffer loses the rest, as a network would */
        sent += r;
      }
      batched = 0;
    }
  }
  for (int sent = 0; sent < batched;) {
    int r = sendmmsg(udp_fd, messages + sent, (unsigned)(batched - sent), 0);
    if (r <= 0) break;
    sent += r;
  }
  arm_timer();
}

static void enqueue(const unsigned char *query, size_t n, int truncated, int connection,
                    const struct sockaddr_storage *peer, socklen_t peer_length, int64_t arrived) {
  unsigned char reply[MAX_REPLY];
  size_t length = make_reply(query, n, truncated, reply);
  if (length == 0) return;
  struct pending *p = queue_push();
  if (p == NULL) {
    ++counts.overflow;
    return;
  }
  p->due_ns = arrived + (int64_t)config.delay_ms * 1000000;
  p->connection = connection;
  p->generation = connection >= 0 ? connections[connection].generation : 0;
  p->peer_length = peer_length;
  if (peer != NULL) memcpy(&p->peer, peer, peer_length);
  p->length = (uint16_t)length;
  memcpy(p->reply + 2, reply, length);
  int was_empty = queue_size == 0;
  ++queue_size;
  if (was_empty) arm_timer();
}

static void read_udp(void) {
  static unsigned char buffers[BATCH][4096];
  struct sockaddr_storage peers[BATCH];
  struct iovec parts[BATCH];
  struct mmsghdr messages[BATCH];
  for (;;) {
    for (int i = 0; i < BATCH; ++i) {
      parts[i].iov_base = buffers[i];
      parts[i].iov_len = sizeof buffers[i];
      memset(&messages[i], 0, sizeof messages[i]);
      messages[i].msg_hdr.msg_name = &peers[i];
      messages[i].msg_hdr.msg_namelen = sizeof peers[i];
      messages[i].msg_hdr.msg_iov = &parts[i];
      messages[i].msg_hdr.msg_iovlen = 1;
    }
    int got = recvmmsg(udp_fd, messages, BATCH, MSG_DONTWAIT, NULL);
    if (got <= 0) return;
    int64_t arrived = now_ns();
    for (int i = 0; i < got; ++i) {
      ++counts.received;
      if (dropped(buffers[i], messages[i].msg_len)) {
        ++counts.dropped;
        continue;
      }
      enqueue(buffers[i], messages[i].msg_len, config.truncate, -1, &peers[i], messages[i].msg_hdr.msg_namelen,
              arrived);
    }
    if (got < BATCH) return;
  }
}

static void accept_connections(void) {
  for (;;) {
    int fd = accept4(listen_fd, NULL, NULL, SOCK_NONBLOCK);
    if (fd < 0) return;
    int slot = -1;
    for (int i = 0; i < MAX_CONNECTIONS; ++i)
      if (connections[i].fd < 0) { slot = i; break; }
    unsigned char *in = slot >= 0 ? malloc(2 + MAX_QUERY) : NULL;
    if (in == NULL) {
      close(fd);
      continue;
    }
    struct connection *c = &connections[slot];
    c->fd = fd;
    c->in = in;
    c->in_length = 0;
    c->wants_out = 0;
    watch(fd, EPOLLIN, (uint64_t)SOURCE_CONNECTION << 32 | (uint32_t)slot);
  }
}

static void read_connection(int index) {
  struct connection *c = &connections[index];
  for (;;) {
    ssize_t got = recv(c->fd, c->in + c->in_length, 2 + MAX_QUERY - c->in_length, 0);
    if (got == 0 || (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
      close_connection(index);
      return;
    }
    if (got < 0) return;
    c->in_length += (size_t)got;
    int64_t arrived = now_ns();
    size_t at = 0;
    while (c->in_length - at >= 2) {
      size_t length = (size_t)c->in[at] << 8 | c->in[at + 1];
      if (c->in_length - at - 2 < length) break;
      ++counts.received;
      ++counts.tcp_queries;
      enqueue(c->in + at + 2, length, 0, index, NULL, 0, arrived);
      at += 2 + length;
    }
    memmove(c->in, c->in + at, c->in_length - at);
    c->in_length -= at;
  }
}

static int bind_socket(int type) {
  struct sockaddr_storage where;
  socklen_t length;
  memset(&where, 0, sizeof where);
  struct sockaddr_in *v4 = (struct sockaddr_in *)&where;
  struct sockaddr_in6 *v6 = (struct sockaddr_in6 *)&where;
  if (inet_pton(AF_INET, config.address, &v4->sin_addr) == 1) {
    v4->sin_family = AF_INET;
    v4->sin_port = htons((uint16_t)config.port);
    length = sizeof *v4;
  } else if (inet_pton(AF_INET6, config.address, &v6->sin6_addr) == 1) {
    v6->sin6_family = AF_INET6;
    v6->sin6_port = htons((uint16_t)config.port);
    length = sizeof *v6;
  } else {
    return -1;
  }
  int s = socket(where.ss_family, type | SOCK_NONBLOCK, 0);
  if (s < 0) return -1;
  int on = 1, buffer = 4 << 20;
  setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  setsockopt(s, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
  setsockopt(s, SOL_SOCKET, SO_SNDBUF, &buffer, sizeof buffer);
  if (bind(s, (struct sockaddr *)&where, length) != 0 || (type == SOCK_STREAM && listen(s, 128) != 0)) {
    close(s);
    return -1;
  }
  return s;
}

static int is_loopback(const char *address) {
  struct in_addr v4;
  struct in6_addr v6;
  if (inet_pton(AF_INET, address, &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
  if (inet_pton(AF_INET6, address, &v6) == 1) return IN6_IS_ADDR_LOOPBACK(&v6);
  return 0;
}

static void on_signal(int number) {
  (void)number;
  ssize_t ignored = write(signal_pipe[1], "x", 1);
  (void)ignored;
}

static int usage(const char *problem) {
  fprintf(stderr,
          "delay_responder: %s\n"
          "usage: delay_responder --address A [--port P] [--delay-ms D] [--drop-percent X] [--seed S]\n"
          "                       [--lifetime-s T] [--fold-case] [--truncate]\n",
          problem);
  return 2;
}

/* A whole-number option within [low, high]; 0 when the text is not one. */
static int number_option(const char *text, long low, long high, long *out) {
  char *end;
  errno = 0;
  long value = strtol(text, &end, 10);
  if (errno != 0 || end == text || *end != 0 || value < low || value > high) return 0;
  *out = value;
  return 1;
}

int main(int argc, char **argv) {
  for (int i = 1; i < argc; ++i) {
    const char *option = argv[i];
    const char *value = i + 1 < argc ? argv[i + 1] : NULL;
    long number;
    if (strcmp(option, "--fold-case") == 0) {
      config.fold_case = 1;
      continue;
    }
    if (strcmp(option, "--truncate") == 0) {
      config.truncate = 1;
      continue;
    }
    if (value == NULL) return usage("an option without its value");
    ++i;
    if (strcmp(option, "--address") == 0) {
      config.address = value;
    } else if (strcmp(option, "--port") == 0) {
      if (!number_option(value, 1, 65535, &number)) return usage("--port takes 1..65535");
      config.port = (int)number;
    } else if (strcmp(option, "--delay-ms") == 0) {
      if (!number_option(value, 0, 60000, &config.delay_ms)) return usage("--delay-ms takes 0..60000");
    } else if (strcmp(option, "--lifetime-s") == 0) {
      if (!number_option(value, 1, 3600, &config.lifetime_s)) return usage("--lifetime-s takes 1..3600");
    } else if (strcmp(option, "--drop-percent") == 0) {
      char *end;
      config.drop_percent = strtod(value, &end);
      if (end == value || *end != 0 || !(config.drop_percent >= 0 && config.drop_percent <= 100))
        return usage("--drop-percent takes 0..100");
    } else if (strcmp(option, "--seed") == 0) {
      char *end;
      errno = 0;
      config.seed = strtoull(value, &end, 0);
      if (errno != 0 || end == value || *end != 0) return usage("--seed takes a whole number");
    } else {
      return usage("unknown option");
    }
  }
  if (config.address == NULL) return usage("--address is required");
  if (!is_loopback(config.address)) return usage("loopback addresses only (127.0.0.0/8, ::1)");

  for (int i = 0; i < MAX_CONNECTIONS; ++i) connections[i].fd = -1;
  udp_fd = bind_socket(SOCK_DGRAM);
  listen_fd = bind_socket(SOCK_STREAM);
  if (udp_fd < 0 || listen_fd < 0) {
    fprintf(stderr, "delay_responder: cannot bind %s port %d: %s\n", config.address, config.port, strerror(errno));
    return 1;
  }
  timer_fd = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK);
  epoll_fd = epoll_create1(0);
  if (timer_fd < 0 || epoll_fd < 0 || pipe2(signal_pipe, O_NONBLOCK) != 0) {
    perror("delay_responder");
    return 1;
  }
  signal(SIGPIPE, SIG_IGN);
  struct sigaction action;
  memset(&action, 0, sizeof action);
  action.sa_handler = on_signal;
  sigaction(SIGTERM, &action, NULL);
  sigaction(SIGINT, &action, NULL);
  watch(udp_fd, EPOLLIN, (uint64_t)SOURCE_UDP << 32);
  watch(listen_fd, EPOLLIN, (uint64_t)SOURCE_TCP_LISTEN << 32);
  watch(timer_fd, EPOLLIN, (uint64_t)SOURCE_TIMER << 32);
  watch(signal_pipe[0], EPOLLIN, (uint64_t)SOURCE_SIGNAL_PIPE << 32);

  printf("ready %s port %d delay %ld ms drop %g %% seed %llu lifetime %ld s%s%s\n", config.address, config.port,
         config.delay_ms, config.drop_percent, (unsigned long long)config.seed, config.lifetime_s,
         config.fold_case ? " fold-case" : "", config.truncate ? " truncate" : "");
  fflush(stdout);

  const int64_t end = now_ns() + (int64_t)config.lifetime_s * 1000000000;
  int stopping = 0;
  while (!stopping) {
    int64_t left_ms = (end - now_ns()) / 1000000;
    if (left_ms <= 0) break;
    struct epoll_event events[64];
    int n = epoll_wait(epoll_fd, events, 64, left_ms > 1000 ? 1000 : (int)left_ms + 1);
    if (n < 0 && errno != EINTR) break;
    for (int i = 0; i < n; ++i) {
      uint32_t source = (uint32_t)(events[i].data.u64 >> 32), index = (uint32_t)events[i].data.u64;
      switch (source) {
        case SOURCE_UDP: read_udp(); break;
        case SOURCE_TCP_LISTEN: accept_connections(); break;
        case SOURCE_TIMER: {
          uint64_t expirations;
          ssize_t ignored = read(timer_fd, &expirations, sizeof expirations);
          (void)ignored;
          break;
        }
        case SOURCE_SIGNAL_PIPE: stopping = 1; break;
        case SOURCE_CONNECTION:
          if (connections[index].fd < 0) break;
          if (events[i].events & EPOLLOUT) flush_connection((int)index);
          if (connections[index].fd >= 0 && (events[i].events & (EPOLLIN | EPOLLHUP | EPOLLERR)))
            read_connection((int)index);
          break;
      }
    }
    /* Whatever woke the loop, replies that fell due meanwhile go out now. */
    if (queue_size > 0 && queue[queue_head].due_ns <= now_ns()) send_due();
  }
  printf("received %llu answered %llu dropped %llu formerr %llu overflow %llu tcp-queries %llu"
         " attempt-table-clears %llu\n",
         counts.received, counts.answered, counts.dropped, counts.formerr, counts.overflow, counts.tcp_queries,
         attempt_table_clears);
  fflush(stdout);
  return 0;
}

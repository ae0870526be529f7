/* A native DNS responder for batches of queries: every answer leaves a set
 * delay after its query arrived, and a set share of the UDP queries is never
 * answered. Loopback only, single-threaded (epoll + a timerfd), bounded in
 * lifetime.
 *
 *   delay_responder --address A [--port P] [--delay-ms D] [--drop-percent X]
 *                   [--seed S] [--lifetime-s T] [--fold-case] [--truncate] [--no-tcp]
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
 *   --no-tcp        no TCP listener: a connection is refused (a server that
 *                   takes no TCP).
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

#include "delay_responder.h"

enum { SOURCE_UDP = 1, SOURCE_TCP_LISTEN, SOURCE_TIMER, SOURCE_SIGNAL_PIPE, SOURCE_CONNECTION };

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

struct counts counts;
static struct pending *queue;
static size_t queue_capacity, queue_head, queue_size;
static struct connection connections[MAX_CONNECTIONS];
static int epoll_fd, udp_fd, listen_fd, timer_fd;
static int signal_pipe[2];
static int64_t now_ns(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (int64_t)t.tv_sec * 1000000000 + t.tv_nsec;
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

static void on_signal(int number) {
  (void)number;
  ssize_t ignored = write(signal_pipe[1], "x", 1);
  (void)ignored;
}

int main(int argc, char **argv) {
  const int status = read_options(argc, argv);
  if (status != 0) return status;

  for (int i = 0; i < MAX_CONNECTIONS; ++i) connections[i].fd = -1;
  udp_fd = bind_socket(SOCK_DGRAM);
  listen_fd = config.no_tcp ? -2 : bind_socket(SOCK_STREAM);
  if (udp_fd < 0 || listen_fd == -1) {
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
  if (!config.no_tcp) watch(listen_fd, EPOLLIN, (uint64_t)SOURCE_TCP_LISTEN << 32);
  watch(timer_fd, EPOLLIN, (uint64_t)SOURCE_TIMER << 32);
  watch(signal_pipe[0], EPOLLIN, (uint64_t)SOURCE_SIGNAL_PIPE << 32);

  printf("ready %s port %d delay %ld ms drop %g %% seed %llu lifetime %ld s%s%s%s\n", config.address, config.port,
         config.delay_ms, config.drop_percent, (unsigned long long)config.seed, config.lifetime_s,
         config.fold_case ? " fold-case" : "", config.truncate ? " truncate" : "", config.no_tcp ? " no-tcp" : "");
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

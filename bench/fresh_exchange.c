/* How fast a DNS server on loopback answers, natively: N exchanges of one A
 * question, each on a fresh UDP socket (socket, sendto, recv, close), and N on
 * one socket kept open; prints the median and the 10th and 90th percentiles of
 * each, in microseconds, as "key value unit note" lines.
 *
 *   fresh_exchange SERVER [NAME] [N] [LABEL]
 *
 * SERVER: an IPv4 loopback address (port 53) or ADDRESS:PORT. NAME defaults
 * to one.vavizav.test, N to 2000 (at most 1000000), LABEL to "server".
 * Every reply must carry the query's ID and NOERROR; a reply that does not,
 * or none within 1 s, stops the run (exit 1). */
#include <arpa/inet.h>
#include <netinet/in.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

static double now_us(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (double)t.tv_sec * 1e6 + (double)t.tv_nsec / 1e3;
}

static int compare(const void *a, const void *b) {
  double x = *(const double *)a, y = *(const double *)b;
  return x < y ? -1 : x > y;
}

static size_t make_query(const char *name, unsigned short id, unsigned char *out, size_t capacity) {
  size_t at = 12;
  memset(out, 0, 12);
  out[0] = (unsigned char)(id >> 8);
  out[1] = (unsigned char)id;
  out[2] = 0x01; /* RD */
  out[5] = 1;    /* one question */
  const char *label = name;
  while (*label) {
    const char *dot = strchr(label, '.');
    size_t length = dot ? (size_t)(dot - label) : strlen(label);
    if (length == 0 || length > 63 || at + length + 1 + 5 > capacity) return 0;
    out[at++] = (unsigned char)length;
    memcpy(out + at, label, length);
    at += length;
    label += length + (dot ? 1 : 0);
  }
  out[at++] = 0;
  const unsigned char a_in[4] = {0, 1, 0, 1};
  memcpy(out + at, a_in, 4);
  return at + 4;
}

/* One exchange on socket s; 0 when the right reply came. */
static int exchange(int s, const struct sockaddr_in *server, const char *name, unsigned short id) {
  unsigned char query[300], reply[4096];
  size_t length = make_query(name, id, query, sizeof query);
  if (length == 0) return -1;
  if (sendto(s, query, length, 0, (const struct sockaddr *)server, sizeof *server) != (ssize_t)length) return -1;
  for (;;) {
    ssize_t got = recv(s, reply, sizeof reply, 0);
    if (got < 12) return -1;
    if (reply[0] == query[0] && reply[1] == query[1]) return (reply[3] & 0x0F) == 0 ? 0 : -1;
  }
}

static int open_socket(void) {
  int s = socket(AF_INET, SOCK_DGRAM, 0);
  struct timeval wait = {1, 0};
  if (s >= 0) setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
  return s;
}

static void report(const char *label, const char *key, double *samples, int n, const char *note) {
  qsort(samples, (size_t)n, sizeof *samples, compare);
  printf("%s.%s %.1f us p10 %.1f, p90 %.1f, %d exchanges; %s\n", label, key, samples[n / 2], samples[n / 10],
         samples[n * 9 / 10], n, note);
}

int main(int argc, char **argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: fresh_exchange SERVER [NAME] [N] [LABEL]\n");
    return 2;
  }
  char address[64];
  int port = 53;
  snprintf(address, sizeof address, "%s", argv[1]);
  char *colon = strchr(address, ':');
  if (colon) {
    *colon = 0;
    port = atoi(colon + 1);
  }
  struct sockaddr_in server;
  memset(&server, 0, sizeof server);
  server.sin_family = AF_INET;
  server.sin_port = htons((unsigned short)port);
  if (inet_pton(AF_INET, address, &server.sin_addr) != 1 || (ntohl(server.sin_addr.s_addr) >> 24) != 127 ||
      port < 1 || port > 65535) {
    fprintf(stderr, "fresh_exchange: the server must be an IPv4 loopback address with an optional port\n");
    return 2;
  }
  const char *name = argc > 2 ? argv[2] : "one.vavizav.test";
  int n = argc > 3 ? atoi(argv[3]) : 2000;
  const char *label = argc > 4 ? argv[4] : "server";
  if (n < 10 || n > 1000000) {
    fprintf(stderr, "fresh_exchange: N takes 10..1000000\n");
    return 2;
  }
  double *fresh = malloc(sizeof(double) * (size_t)n), *kept = malloc(sizeof(double) * (size_t)n);
  int s = open_socket();
  if (fresh == NULL || kept == NULL || s < 0) return 1;
  unsigned short id = 1;
  /* Fresh and kept alternate, so a slow spell of the machine hits both. */
  for (int i = 0; i < n; ++i) {
    double start = now_us();
    int f = open_socket();
    int failed = f < 0 || exchange(f, &server, name, id++) != 0;
    if (f >= 0) close(f);
    fresh[i] = now_us() - start;
    start = now_us();
    failed |= exchange(s, &server, name, id++) != 0;
    kept[i] = now_us() - start;
    if (failed) {
      fprintf(stderr, "fresh_exchange: no right reply from %s for %s (exchange %d)\n", argv[1], name, i);
      return 1;
    }
  }
  close(s);
  report(label, "fresh_socket", fresh, n, "native: socket, sendto, recv, close");
  report(label, "kept_socket", kept, n, "native: sendto, recv on one socket");
  free(fresh);
  free(kept);
  return 0;
}

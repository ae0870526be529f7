/* What the files of the delaying DNS responder share (delay_responder.c has
 * the whole description): its limits, its settings and counts, the reply
 * decisions (delay_responder_replies.c) and the options (delay_responder_options.c). */
#ifndef VAVIZAV_DELAY_RESPONDER_H
#define VAVIZAV_DELAY_RESPONDER_H

#include <stddef.h>
#include <stdint.h>

#define HEADER 12
#define MAX_NAME 255
/* header + question (name, type, class) + one A record (pointer, fixed part, address) */
#define MAX_REPLY (HEADER + MAX_NAME + 4 + 16)
#define MAX_QUERY 65535
#define BATCH 64
#define MAX_CONNECTIONS 256
#define MAX_PENDING (1u << 20)
#define MAX_QUESTIONS (1u << 20) /* the attempt table holds twice as many slots */

struct settings {
  const char *address;
  int port;
  long delay_ms;
  double drop_percent;
  uint64_t seed;
  long lifetime_s;
  int fold_case;
  int truncate;
  int no_tcp;
};

struct counts {
  unsigned long long received, answered, dropped, formerr, overflow, tcp_queries;
};

extern struct settings config;
extern struct counts counts;
/* How often the attempt table filled and was cleared. */
extern unsigned long long attempt_table_clears;

/* Whether this UDP arrival of the question in `q` (n octets) is dropped. */
int dropped(const unsigned char *q, size_t n);
/* The reply to the query `q` (n octets) in `out` (MAX_REPLY octets): its
 * length, 0 for no reply. `truncated`: TC and no answers. */
size_t make_reply(const unsigned char *q, size_t n, int truncated, unsigned char *out);
/* Reads the options into `config`: 0, or the exit status of a usage error. */
int read_options(int argc, char **argv);

#endif

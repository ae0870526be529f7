/* The delaying responder's decisions: which UDP arrivals are dropped (a
 * seeded draw per attempt of a question) and the reply to each query; the
 * rules are in delay_responder.c's description. */
#include "delay_responder.h"

#include <stdlib.h>
#include <string.h>

struct attempts {
  uint64_t key; /* 0: a free slot */
  uint32_t count;
};
static struct attempts *attempt_table; /* 2 * MAX_QUESTIONS slots, open addressing */
static size_t attempt_entries;
unsigned long long attempt_table_clears;

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

int dropped(const unsigned char *q, size_t n) {
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
size_t make_reply(const unsigned char *q, size_t n, int truncated, unsigned char *out) {
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

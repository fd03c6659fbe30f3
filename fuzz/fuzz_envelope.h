// What every fuzz target over whole images shares: the input's small
// envelope, and failing loudly. A broken promise aborts, so the fuzzer
// reports it as a crash.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include "wpp/bytes.h"

namespace fuzzwpp {

// Every input starts with one control byte and a 32-bit number (claimed
// length, file offset or the sizes of the pieces it is fed in); the rest is
// the image.
constexpr size_t kEnvelopeSize = 5;

struct Envelope {
  int stopAtCall;   // 0 never, 1 at the first progress call, 2 at the second
  uint8_t control;  // the whole control byte, for each target's own choices
  uint32_t number;
  const uint8_t* body;
  size_t bodySize;
};

inline bool ReadEnvelope(const uint8_t* data, size_t size, Envelope* e) {
  if (size < kEnvelopeSize) return false;
  e->control = data[0];
  e->stopAtCall = data[0] % 3;
  e->number = wpp::LoadLe32(data + 1);
  e->body = data + kEnvelopeSize;
  e->bodySize = size - kEnvelopeSize;
  return true;
}

[[noreturn]] inline void Fail(const char* what) {
  fprintf(stderr, "fuzz: %s\n", what);
  abort();
}

}  // namespace fuzzwpp

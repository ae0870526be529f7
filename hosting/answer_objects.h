// The objects a Resolver hands out: Answer, its Records and each Record, and
// the enumerator For Each uses. Each holds the answer it shows by a shared,
// read-only reference, so a Record outlives its Answer and an Answer its
// Resolver; they belong to the apartment that made them.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <memory>
#include <string>

#include "resolver/answer.h"
#include "runtime/text_conversion.h"
#include "vavizav.h"

namespace vavizav::hosting {

// One answer as a script sees it.
struct AnswerContent {
  std::wstring Name;    // as the caller gave it
  std::wstring Type;    // the asked type's mnemonic (or the caller's text when it was no type)
  std::wstring Server;  // the server that answered; "" when none did
  std::wstring Transport;  // "UDP" or "TCP": how the reply came; "" without one
  LONG ElapsedMs = 0;      // from the question's first send to its reply
  resolver::AnswerModel Model;
  bool FromCache = false;  // handed out of the Resolver's cache
};

// A new Answer object showing `content`, in `*answer` (with its reference).
HRESULT CreateAnswerObject(std::shared_ptr<const AnswerContent> content, _Answer** answer) noexcept;

}  // namespace vavizav::hosting

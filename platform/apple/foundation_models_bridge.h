/* The C functions through which the macOS platform reaches Apple's on-device model. They are
   implemented in Swift (foundation_models_bridge.swift, os_version.swift), because FoundationModels
   has no C or Objective-C interface. This header is their one statement: Swift imports it as the
   module CFoundationModelsBridge (module.modulemap) and implements each function with
   `@implementation @_cdecl`, which fails to compile when the Swift function's type differs from the
   declaration here or the header declares no such function (on Linux, the stand-in's C++ version
   test includes it). Texts cross as pointer and length, so a NUL inside a text survives. Nothing
   here writes to standard output or standard error. */
#ifndef CORVANE_PLATFORM_APPLE_FOUNDATION_MODELS_BRIDGE_H
#define CORVANE_PLATFORM_APPLE_FOUNDATION_MODELS_BRIDGE_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The values returned by corvane_fm_availability. The underlying type is fixed so that Swift, which
   imports this header too, sees them as the Int32 the function returns. */
enum : int32_t {
  CORVANE_FM_AVAILABLE = 0,
  CORVANE_FM_DEVICE_NOT_ELIGIBLE = 1,
  CORVANE_FM_APPLE_INTELLIGENCE_NOT_ENABLED = 2,
  CORVANE_FM_MODEL_NOT_READY = 3,
  /* A reason the system added after this build, or a system older than macOS 26. */
  CORVANE_FM_OTHER_REASON = 4
};

/* 1 if the running system is at least major.minor.patch, else 0. Safe on every macOS. */
int32_t corvane_fm_os_at_least(int32_t major, int32_t minor, int32_t patch);

/* The model's availability, one of CORVANE_FM_*. Synchronous; callable from any thread and on
   every macOS. */
int32_t corvane_fm_availability(void);

/* The end of one generation. ok = 1: text is the answer; ok = 0: text describes the failure.
   text holds text_len bytes of UTF-8, is not NUL-terminated, is valid only during this call,
   and may be NULL when text_len is 0. Runs on the thread of the Swift task that ran the
   generation (a thread of Swift's concurrency pool, never the main thread), as the task's last
   use of anything of the caller's: once it returns, the task only releases its own memory. */
typedef void (*corvane_fm_completion)(void* context, int32_t ok, const char* text, size_t text_len);

/* Starts one complete (not streamed) response on a fresh session with no tools. instructions ==
   NULL means a session without instructions, which differs from instructions_len == 0. The
   sampling mode is never set. All input bytes are copied before this returns.
   Returns 0 when the generation was started: completion then runs exactly once with context,
   possibly before this returns. Returns nonzero when it was refused (system older than macOS 26,
   prompt or completion NULL, maximum_response_tokens <= 0): completion is then never called. */
int32_t corvane_fm_generate(const char* instructions, size_t instructions_len, const char* prompt,
                            size_t prompt_len, double temperature, int64_t maximum_response_tokens,
                            corvane_fm_completion completion, void* context);

/* The answer of a streamed generation as it grows. replaces = 0: text goes on from the answer so
   far; replaces = 1: text is the whole answer so far instead (the model revised what it had
   written). text holds text_len bytes of UTF-8, is not NUL-terminated, is valid only during this
   call, and may be NULL when text_len is 0. Runs on the thread the completion will run on, before
   it; never after it. */
typedef void (*corvane_fm_progress)(void* context, int32_t replaces, const char* text,
                                    size_t text_len);

/* As corvane_fm_generate, but the response is asked for as it is written: progress runs for each
   new piece of the answer, then completion once, with ok = 1 and the whole answer (the text as
   the last piece left it) or with ok = 0 and the failure, which may come after some pieces.
   Refused as corvane_fm_generate is, or when progress is NULL. */
int32_t corvane_fm_stream(const char* instructions, size_t instructions_len, const char* prompt,
                          size_t prompt_len, double temperature, int64_t maximum_response_tokens,
                          corvane_fm_progress progress, corvane_fm_completion completion,
                          void* context);

#ifdef __cplusplus
}
#endif

#endif /* CORVANE_PLATFORM_APPLE_FOUNDATION_MODELS_BRIDGE_H */

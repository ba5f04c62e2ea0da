/* The C face of the stand-in model (platform/sim/sim_model.h) for the Linux stand-in of Apple's
   framework, which is Swift and imports this header as the module CorvaneStandinModel. */
#ifndef CORVANE_PLATFORM_APPLE_STANDIN_STANDIN_MODEL_H
#define CORVANE_PLATFORM_APPLE_STANDIN_STANDIN_MODEL_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The model's availability: 0 available, 1 device not eligible, 2 Apple Intelligence not enabled,
   3 model not ready, 4 a reason the system added later. */
int32_t corvane_standin_model_availability(void);

/* Records a new session: instructions == NULL means none (unlike instructions_len == 0). */
void corvane_standin_model_session(const char* instructions, size_t instructions_len, size_t tools);

/* Records a request for a response and returns the milliseconds it is to take. Absent settings
   are passed as has_* == 0; sampling == NULL means the model's default sampling. */
uint64_t corvane_standin_model_respond(const char* prompt, size_t prompt_len,
                                       int32_t has_temperature, double temperature,
                                       int32_t has_maximum_response_tokens,
                                       int64_t maximum_response_tokens, const char* sampling);

/* The outcomes of a response: answered, one of the nine cases of the framework's generation error
   (in its order), or an error outside them, thrown as a plain NSError. */
enum : int32_t {
  CORVANE_STANDIN_ANSWERED = 0,
  CORVANE_STANDIN_EXCEEDED_CONTEXT_WINDOW_SIZE = 1,
  CORVANE_STANDIN_ASSETS_UNAVAILABLE = 2,
  CORVANE_STANDIN_GUARDRAIL_VIOLATION = 3,
  CORVANE_STANDIN_UNSUPPORTED_GUIDE = 4,
  CORVANE_STANDIN_UNSUPPORTED_LANGUAGE_OR_LOCALE = 5,
  CORVANE_STANDIN_DECODING_FAILURE = 6,
  CORVANE_STANDIN_RATE_LIMITED = 7,
  CORVANE_STANDIN_CONCURRENT_REQUESTS = 8,
  CORVANE_STANDIN_REFUSAL = 9,
  CORVANE_STANDIN_NS_ERROR = 10
};

/* The outcome of the response just requested, one of CORVANE_STANDIN_*. Answered: *text is the
   answer, or NULL when the answer is the prompt itself. Failed: *text is the failure's
   description, never NULL, empty when the failure has none. The text stays valid for the whole
   run. */
int32_t corvane_standin_model_outcome(const char** text);

/* Records a request for a streamed response, as corvane_standin_model_respond does a complete
   one, and returns the milliseconds before each piece of it. */
uint64_t corvane_standin_model_stream(const char* prompt, size_t prompt_len,
                                      int32_t has_temperature, double temperature,
                                      int32_t has_maximum_response_tokens,
                                      int64_t maximum_response_tokens, const char* sampling);

/* How the streamed response just requested for `prompt` comes: *pieces pieces of *answer (NULL:
   of the prompt itself), each cut by corvane_standin_model_piece_end with *piece_length, then the
   outcome, which is returned as by corvane_standin_model_outcome, with *description the failure's
   description. The texts stay valid for the whole run. */
int32_t corvane_standin_model_stream_outcome(const char* prompt, size_t prompt_len,
                                             const char** answer, uint64_t* pieces,
                                             uint64_t* piece_length, const char** description);

/* Where the piece of text that begins at byte `from` (< text_len) ends. */
size_t corvane_standin_model_piece_end(const char* text, size_t text_len, size_t from,
                                       uint64_t piece_length);

#ifdef __cplusplus
}
#endif

#endif /* CORVANE_PLATFORM_APPLE_STANDIN_STANDIN_MODEL_H */

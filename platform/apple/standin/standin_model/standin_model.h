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

/* The outcome of the response just requested: returns 1 with the answer, or 0 with the failure's
   description. *text == NULL with a success means the answer is the prompt itself. The text stays
   valid for the whole run. */
int32_t corvane_standin_model_outcome(const char** text);

#ifdef __cplusplus
}
#endif

#endif /* CORVANE_PLATFORM_APPLE_STANDIN_STANDIN_MODEL_H */

// corvane-apple-sim links the Swift run-time of the Linux toolchain, whose backtracer, on by
// default there, catches SIGQUIT and the crash signals as the run-time loads. On such a signal it
// starts a helper, swift-backtrace, which inherits the process's descriptors: it was seen writing
// "swift-backtrace: unable to fetch crash info." to standard output beside the reply, and its
// report to standard error, when libdispatch crashed for want of descriptors. The program catches
// none of these signals itself, so every handler found on them is removed again as the program
// starts; each then takes its default action, ending the process as it ends corvane-sim, and
// nothing but the reply ever reaches standard output. An ignored signal (a SIGQUIT ignored by the
// caller) stays ignored.
//
// An initializer of the executable itself: the dynamic loader runs those after the initializers of
// every shared library the executable needs, the Swift run-time's among them, so the handlers are
// in place by then, and no code of the program has run yet. (The macOS program runs on the system's
// run-time, whose crash handling is the system's: this file is not part of it.)
#include <csignal>
#include <initializer_list>

namespace {

__attribute__((constructor)) void restoreDefaultCrashSignals() {
  for (const int number : {SIGQUIT, SIGILL, SIGTRAP, SIGABRT, SIGBUS, SIGFPE, SIGSEGV}) {
    struct sigaction current{};
    if (sigaction(number, nullptr, &current) != 0) continue;
    const bool caught = (current.sa_flags & SA_SIGINFO) != 0 ||
                        (current.sa_handler != SIG_DFL && current.sa_handler != SIG_IGN);
    if (!caught) continue;
    struct sigaction defaults{};
    defaults.sa_handler = SIG_DFL;
    sigemptyset(&defaults.sa_mask);
    sigaction(number, &defaults, nullptr);
  }
}

}  // namespace

// Compiled into every native program of the sanitizer build
// (DRAVIK_SANITIZE): a sanitizer report ends the program with status 86,
// which no program here gives otherwise. The sanitizers' default, 1, is
// dravik-sfx's "cancelled by the user", which a test may expect; 86 is
// expected by none, so a report always fails its test.
extern "C" const char* __asan_default_options() { return "exitcode=86"; }
extern "C" const char* __ubsan_default_options() { return "exitcode=86:print_stacktrace=1"; }

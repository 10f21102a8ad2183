// Linked into the tool in sanitizer builds only. A sanitizer report (a leak,
// undefined behaviour) ends the tool with a status of its own instead of the
// runtime's default 1, which is also the tool's status for a module error:
// a test that expects a module error would otherwise take a leak for it.
// Options set in ASAN_OPTIONS / UBSAN_OPTIONS still take precedence.

extern "C" {

// Called by the sanitizer runtimes before main; the names are theirs.
const char* __asan_default_options() { return "exitcode=86"; }
const char* __ubsan_default_options() { return "exitcode=86"; }

}

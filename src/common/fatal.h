#pragma once
// Failures are reported where they are detected: a message on standard error,
// then the process ends with exit status 1.

// MinGW's printf family is its own C99 one (__USE_MINGW_ANSI_STDIO), not Microsoft's:
// check formats against the GNU rules there too, or %zu is wrongly flagged.
#ifdef __MINGW32__
#define DW_PRINTF(fmt, args) __attribute__((format(gnu_printf, fmt, args)))
#else
#define DW_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#endif

// Writes the formatted message to standard error and exits with status 1.
[[noreturn]] void fatal(const char *format, ...) DW_PRINTF(1, 2);

// Writes the formatted message to standard error and ends the run with `status`: 1 for
// errors, 0 for the refusals and stops that are not errors (delete and unprotect).
[[noreturn]] void end_run(int status, const char *format, ...) DW_PRINTF(2, 3);

// Reports errno as perror does ("label: error text") and exits with status 1.
[[noreturn]] void fatal_errno(const char *label);

// Writes the formatted message to standard error (or the message sink) and carries on.
void warn(const char *format, ...) DW_PRINTF(1, 2);

// Reports errno as perror does ("label: error text"), to standard error or the message
// sink, and carries on.
void warn_errno(const char *label);

// Where messages go: standard error unless a sink is set. A program that must outlive
// every error (a mounted file system) sends them to its log instead. The sink receives
// one whole message at a time; null restores standard error.
using MessageSink = void (*)(const char *text);
void message_set_sink(MessageSink sink);

// Writes one message (already formatted) to the sink or to standard error.
void message_write(const char *text);

// Ends the process with `status` (every exit of the library code goes through here).
[[noreturn]] void fatal_exit(int status);

// For harnesses that must outlive an error, such as fuzzing: when set, fatal_exit calls
// the handler, which must not return (it throws or jumps), instead of ending the process.
using FatalHandler = void (*)(int status);
void fatal_set_handler(FatalHandler handler);

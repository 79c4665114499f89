// The platform's standard streams, as narrow as console support needs
// them: what standard output is, writing it and standard error, the
// closing wait on standard input, and the end of the process. Each
// platform's folder defines these in its streams.cpp; they write what they
// are given and compose nothing.
#ifndef STREAMS_H
#define STREAMS_H

#include <cstddef>

#include "winapi.h"

// How text must reach standard output: UTF-8 bytes as they are, UTF-8
// bytes whose line feeds become CR LF (a Windows file or pipe), or wide
// units for a console's own interface.
enum OutputKind { OutputUtf8, OutputUtf8CrLf, OutputWide };

// What standard output is; 0, or the system's code when it cannot be
// written at all (a closed descriptor 1 would send the table to whatever
// file the program opened next).
DWORD StreamOutputKind(OutputKind *kind);

// Writes size bytes to standard output: UTF-8, or the wide units of an
// OutputWide output. 0 once all are written, else the system's code; an
// output in non-blocking mode is waited on, not taken for a failure.
DWORD StreamWrite(const void *data, size_t size);

// Whether a write failed with code because the reader has gone, which
// ends the program silently, as SIGPIPE ends a Unix program.
bool StreamReaderGone(DWORD code);

// Writes one line, its line end included, to standard error; a failure has
// nowhere further to go.
void StreamWriteError(const WCHAR *line, size_t length);

// The closing wait on standard input. A terminal that is the program's to
// take (standard output is the same terminal, and the program is in the
// terminal's foreground, from the start or once job control brings it
// there): one key, without Enter or echo, then whatever else is waiting in
// the input, and a paste still arriving, is discarded; the mode is as
// before on every way out, unless another program has set one since. Any
// other terminal keeps its mode and input: one read,
// which gives what the mode gives (in line mode a line). A Windows
// console: one key, without echo, leaving the console's mode alone; the
// rest of its input is discarded unless standard output is a pipe.
// Otherwise one byte, or the end of the input. Input in non-blocking mode
// is waited on all the same.
void StreamWaitForKey(void);

// Ends the process with status at once, running nothing registered with
// atexit (it may be called from there).
[[noreturn]] void EndProcessNow(UINT status);

#endif

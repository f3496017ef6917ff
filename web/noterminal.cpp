// The terminal of the playground's module: a web page has none.  The reader
// turns to the terminal only for -i or when standard input is one, and the
// page's runs read the program they are handed, so here the terminal is an
// input that has ended.
#include "reader/reader.h"

#include <cstdio>

Typed terminalread(std::FILE*, bool, TextBuffer&) { return Typed::End; }

void terminalrelease() {}

void terminalwords(const SessionWord*, int, const char*) {}

std::FILE* terminalout() { return Diagnostics; }

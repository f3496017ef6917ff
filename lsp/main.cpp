// kestrivo-lsp: the language server, on standard input and output.
#include "lsp/lsp.h"

int main() { return serve(); }

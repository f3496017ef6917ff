// The read-back of a statement's normal form (--readback): the closures
// opened by the reducer, the lambda term printed, and a note on standard
// error when the read-back was cut short.  The run always goes on.
#include "driver/driver.h"

#include "print/print.h"
#include "reader/reader.h"

#include <cstdlib>
#include <string>

static ReadbackGraph Graph;
static std::string Text;      // the latest read-back's line, without its line end
static Ref TextOf = NoNode;   // the normal form it is of

void readbackforget() {
    Text.clear();
    TextOf = NoNode;
}

static long long statementline() {
    return static_cast<long long>(StatementLine != 0 ? StatementLine : LineNumber);
}

// Why a read-back is cut, for its note.
static void notecut(FullEnd end) {
    switch (end) {
    case FullEnd::Done:
    case FullEnd::Interrupt: break;
    case FullEnd::Budget:
        diagf("%lld: read-back stopped after %llu steps: what is not in normal form by then prints as ... "
              "(--readback-steps=N gives it more)",
              statementline(), static_cast<unsigned long long>(Options.readbacksteps));
        break;
    case FullEnd::Pool:
        diagf("%lld: read-back stopped: the pool is full; what it could not read back prints as ... "
              "(a bigger pool gives it room)",
              statementline());
        break;
    case FullEnd::Depth:
        diagf("%lld: read-back stopped: nesting too deep; what it could not read back prints as ...",
              statementline());
        break;
    case FullEnd::Opens:
        diagf("%lld: read-back stopped after opening %zu lambdas, more than a line shows; the rest print as ...",
              statementline(), ReadbackOpens);
        break;
    }
}

// The normal form as printterm prints it, as text.
static std::string plain(Ref t) {
    char* text = nullptr;
    std::size_t size = 0;
    std::FILE* to = open_memstream(&text, &size);
    if (to == nullptr) return "";
    try {
        printtermto(to, t, false);
    } catch (...) {
        std::fclose(to);
        std::free(text);
        throw;
    }
    std::fclose(to);
    std::string s(text, size);
    std::free(text);
    return s;
}

std::string readbackline(Ref t) {
    if (t == TextOf) return Text;
    FullCost cost;
    FullEnd end = fullform(t, Options.readbacksteps, Graph, cost);
    statsreadback(cost);
    std::string line;
    try {
        if (end == FullEnd::Interrupt) {
            // Ctrl-C: the line is printed as without the option, so the
            // statement still shows its normal form.
            fullformdrop();
            line = plain(t);
            diagf("%lld: read-back interrupted: the normal form is printed as it is", statementline());
            StatementsStopped = true;
        } else {
            line = readbacktext(t, Graph);
            fullformdrop();
            notecut(end);
        }
    } catch (...) {
        fullformdrop();
        throw;
    }
    Graph.opened.clear();
    Text = line;
    TextOf = t;
    return line;
}

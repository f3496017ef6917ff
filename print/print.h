// The term printer: prefix form, every token followed by one blank, nested
// operands in parentheses, chains of one operator printed flat, and nodes
// reached more than once labelled "co%d : " at their first appearance and
// referred to as "co%d " afterwards, so shared and cyclic graphs print in
// finite text.  The label is the node's pool position.  No line end is
// printed; callers add their own.
//
// Bounds: a print stops after 2000 counted items (atoms, operator names,
// label definitions); sub-terms already begun still print their ")".
// A print is a walk (store.h): every node it reached is back at rest when
// printterm returns or a stop unwinds through it.
#pragma once

#include "store/store.h"

#include <cstdio>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

constexpr int PrintItemLimit = 2000;

// Prints term; paren says whether the outermost node is parenthesised.  It
// touches only the walk bits, never the flags, so a print in the middle of a
// reduction changes nothing the reduction sees.
void printterm(Ref term, bool paren);
// The same print on another stream (the trace's line), the transcript untouched.
void printtermto(std::FILE* to, Ref term, bool paren);

// The normal-form line of a statement stopped part way: term with
// indirections followed and no sharing labels, cut after about
// StoppedLineWidth characters with "..." (stopped.cpp).  Reads the graph
// only: takes no node and writes no flag.
constexpr std::size_t StoppedLineWidth = 200;  // about a line and a half of a terminal
void printstopped(Ref term);

// ---- the read-back (readback.cpp) ---------------------------------------
// --readback prints a normal form as the plain lambda term it stands for,
// every closure sub(lambda x B, E) opened: the reducer (reduce/fullform.cpp)
// applies it to a variable of its own, which no environment binds, and
// reduces on to the full normal form; the printer prints the closure as
// "lambda x" and that normal form.
//
// A closure opened: it prints as "lambda <variable> <body>".
struct Opened {
    Ref variable;  // the variable it was applied to: an identifier node of
                   // its own, its right field the parameter's atom index
    Ref body;      // the normal form of the application, as far as it got
    Ref param;     // a parameter that is no name (lambda 5 x): its term
                   // under E, reduced; NoNode for a name
};
// What the reducer made of a normal form for the printer.  An inner node it
// did not reach, or reached and did not bring to weak head normal form, is
// not in normal form: the read-back was cut before it, and it prints as
// "...".
struct ReadbackGraph {
    std::unordered_map<Ref, Opened> opened;  // by closure node
    std::unordered_set<Ref> reached;         // inner nodes in weak head normal form, their parts looked at
    std::unordered_map<Ref, Ref> same;       // a closure the same as one opened before (the same
                                             // lambda, the same bindings): printed as that one
    bool cut = false;                        // some node is not in normal form
};

// The text of term read back, every opened closure printed as its lambda,
// each token followed by a blank, as printterm prints.  A parameter keeps
// its name unless a free variable of the same name in its body would be
// captured: then it takes primes (x', x'') or digits, within 8 characters,
// none a name of the program.  A lambda's parameter that is no name, a
// stuck "sub" and a ring of indirections print as printterm prints them.
// Indirections are followed, not printed; nodes printed twice are labelled
// "co<position>" as printterm labels them (a closure by its own position),
// so shared and cyclic graphs print in finite text; after PrintItemLimit
// items the rest is left out.  Reads the graph only: takes no node, writes
// no bit.
std::string readbacktext(Ref term, const ReadbackGraph& graph);

// What a frame of a reduction (a picture after one step) adds to a picture:
// the node the step rewrote, drawn filled, and a caption over the graph.  A
// frame also names every drawing after its pool node (a leaf's k-th use
// "l<position>_<k>"), so a node keeps its name from frame to frame; draws a
// number or a name an indirection leads to once, with every edge into it, as
// the shared argument it is (and so the rewritten node and the term itself,
// named "n<position>" as inner nodes are); and draws indirections in grey.
struct FrameMarks {
    Ref rewritten;        // NoNode in the frame before the first step
    const char* caption;  // "step 3: lookup co5988"
};

// Writes term to out as a Graphviz directed graph called title: the nodes and
// edges the printer would print, labelled as it labels them, with a "cut"
// node where its 2000-item cut falls (dot.cpp); frame, when not null, makes
// it a frame.  Takes no node; a walk, it touches only the walk bits.
void writedot(Ref term, std::FILE* out, const char* title, const FrameMarks* frame = nullptr);

// A term in the usual notation, as LaTeX math (latex.cpp), from the text the
// printer (or the read-back) made of it: lambda x y B as \lambda x\,y.\,B,
// applications side by side, the operators in typewriter type, the sharing
// labels as the transcript gives them.  Past LatexItemLimit items the rest is
// "\dots": a term of the printer's full 2000 items would fill pages.
constexpr int LatexItemLimit = 400;
std::string latexterm(std::string_view printed);

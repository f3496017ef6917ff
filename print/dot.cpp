// Term graphs as Graphviz DOT text (--dot): one graph node per inner pool
// node, a leaf drawn at each of its uses, an edge per field, so the sharing and the cycles the printer's "co" labels
// describe can be seen.
//
// The picture shows what the transcript's line shows, no more: the walk
// visits the nodes in the printer's order and counts items as the printer
// does (atoms, operator names, label definitions), and where the printer
// would stop at the 2000-item cut the edge goes to a node marked "cut".  A
// node the printer labels (reached twice in its pre-pass) carries the same
// "co<position>" label.  A one-operand node draws its operand once, as the
// printer prints it once; a field that leads to a node drawn already is an
// edge back to it, so a cycle is drawn as a cycle.
//
// A picture is a walk (store.h): the reach pass is the printer's, which
// finds the nodes to label; the drawing pass marks each node it draws done,
// and the end of the walk puts every node back at rest.  Both passes keep
// their own stacks instead of recursing, so a graph the printer could print
// never runs out of depth here.  No node is taken from the pool.
#include "print/print.h"

#include "reader/reader.h"

#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

// A picture draws at most this many inner nodes, and the rest of the graph
// goes to the cut node like what the printer's cut leaves out.  The printer's
// cut counts no application node, so a long spine of applications passes it
// with thousands of nodes; Graphviz lays out 1500 in a few seconds.  A print
// of 2000 items holds at most about 1000 inner nodes that are not
// applications (each counts its name, at most its label too), so every other
// picture meets the printer's cut first.
constexpr std::size_t DotNodeLimit = 1500;

// Text for a DOT string: quotes and backslashes escaped, "&" as an entity,
// control characters shown as \r or ?, and bytes that are not UTF-8 as
// character entities, so Graphviz reads every label without a complaint.
static std::string dotquote(const char* text) {
    std::string s;
    const unsigned char* c = reinterpret_cast<const unsigned char*>(text);
    while (*c != 0) {
        int extra = *c >= 0xF0 && *c < 0xF5 ? 3 : *c >= 0xE0 ? 2 : *c >= 0xC2 ? 1 : 0;
        bool whole = *c >= 0x80 && extra > 0;
        for (int k = 1; whole && k <= extra; k++) whole = (c[k] & 0xC0) == 0x80;
        if (whole) {
            s.append(reinterpret_cast<const char*>(c), std::size_t(extra) + 1);
            c += extra + 1;
            continue;
        }
        if (*c == '"' || *c == '\\') s += '\\', s += char(*c);
        else if (*c == '&') s += "&amp;";
        else if (*c == '\r') s += "\\\\r";
        else if (*c < 0x20 || *c == 0x7f) s += '?';
        else if (*c >= 0x80) s += "&#" + std::to_string(*c) + ";";
        else s += char(*c);
        c++;
    }
    return s;
}

// What a leaf shows: its value or its name.
static std::string leaflabel(const Node& n) {
    char text[32];
    switch (n.kind) {
    case INTEGER: std::snprintf(text, sizeof text, "%d", std::int32_t(n.left)); return text;
    case REAL: std::snprintf(text, sizeof text, "%g", double(realvalue(n.left))); return text;
    default: return dotquote(AtomName[n.right]);
    }
}

enum Side { NoSide, LeftSide, RightSide };

// One step of the walk: draw the node r reached from the field side of from
// (NoSide for the term itself), or go on along a chain of kind from r.
struct DotStep {
    Ref r;
    Ref from;
    Side side;
    std::int32_t chain;  // -1: a node; else the chain's operator kind
};

// The fill of the node a frame's step rewrote.
constexpr const char* RewrittenFill = "#ffd54f";

struct DotWriter {
    std::FILE* out = nullptr;
    const FrameMarks* frame = nullptr;          // a frame's marks, or null
    std::unordered_set<Ref> sharedleaves;       // a frame's leaves drawn once: those an indirection leads to
    std::unordered_set<Ref> leavesdrawn;        // those of them drawn so far
    std::unordered_map<Ref, std::uint32_t> leafuses;  // a frame's drawings so far of every other leaf
    int items = 0;               // the printer's item count
    std::size_t drawn = 0;       // inner nodes drawn
    bool cut = false;            // the cut node is drawn
    std::size_t uses = 0;        // leaves drawn

    void edge(Ref from, Side side, const char* to) {
        if (side == LeftSide)
            std::fprintf(out, "  n%u -> %s [tailport=sw, taillabel=\"L\", style=solid];\n", from, to);
        else
            std::fprintf(out, "  n%u -> %s [tailport=se, taillabel=\"R\", style=dashed];\n", from, to);
    }

    void edge(Ref from, Side side, Ref to) {
        char name[16];
        std::snprintf(name, sizeof name, "n%u", to);
        if (side != NoSide) edge(from, side, name);
    }

    // A leaf is drawn where it is used, as the printer prints it at each
    // use: one variable used all along a long chain would otherwise pull an
    // edge across the whole picture from every link, and Graphviz's layout
    // of such edges grows with the square of the chain.  Every drawing of
    // one leaf carries its position, so its uses can still be told apart.
    void drawleaf(Ref from, Side side, Ref r) {
        const Node& n = node(r);
        char name[48];
        const char* fill = frame != nullptr && r == frame->rewritten ? RewrittenFill : nullptr;
        if (frame != nullptr && sharedleaves.count(r) != 0) {
            std::snprintf(name, sizeof name, "n%u", r);
            if (leavesdrawn.insert(r).second) writeleaf(name, n, r, fill);
        } else {
            if (frame != nullptr)
                std::snprintf(name, sizeof name, "l%u_%u", r, leafuses[r]++);
            else
                std::snprintf(name, sizeof name, "l%zu", uses);
            uses++;
            writeleaf(name, n, r, fill);
        }
        if (side != NoSide) edge(from, side, name);
    }

    void writeleaf(const char* name, const Node& n, Ref r, const char* fill) {
        std::fprintf(out, "  %s [label=\"%s\", shape=%s, tooltip=\"node %u\"", name, leaflabel(n).c_str(),
                     n.kind == INTEGER || n.kind == REAL ? "plaintext" : "ellipse", r);
        if (fill != nullptr) std::fprintf(out, ", style=filled, fillcolor=\"%s\"", fill);
        std::fprintf(out, "];\n");
    }

    // Past the printer's cut, or past the nodes a picture may hold.
    bool over() const { return items > PrintItemLimit || drawn >= DotNodeLimit; }

    // An edge to what the printer's cut leaves out.
    void cutedge(Ref from, Side side) {
        if (!cut) {
            std::fprintf(out, "  cut [label=\"cut: not drawn\", shape=box, style=dashed];\n");
            cut = true;
        }
        if (side != NoSide) edge(from, side, "cut");
    }


    void drawinner(Ref r) {
        const Node& n = node(r);
        const char* name = n.kind == APP ? "@" : OperatorTable[n.kind];
        drawn++;
        if (frame == nullptr) {
            if (istwice(r))
                std::fprintf(out, "  n%u [label=\"co%u : %s\", shape=box, style=bold];\n", r, r, name);
            else
                std::fprintf(out, "  n%u [label=\"%s\", shape=box];\n", r, name);
            return;
        }
        // A frame: the same label; an indirection in grey and rounded, the
        // rewritten node filled.
        std::string style = istwice(r) ? "bold" : "solid";
        if (n.kind == IDENT) style += ",rounded";
        if (r == frame->rewritten) style += ",filled";
        std::fprintf(out, "  n%u [label=\"%s%s\", shape=box, style=\"%s\"", r,
                     istwice(r) ? ("co" + std::to_string(r) + " : ").c_str() : "", name, style.c_str());
        if (n.kind == IDENT) std::fprintf(out, ", color=gray50, fontcolor=gray40");
        if (r == frame->rewritten) std::fprintf(out, ", fillcolor=\"%s\"", RewrittenFill);
        std::fprintf(out, "];\n");
    }

    // The printer's print pass (printnode, printchain) drawing instead of
    // printing; steps are taken from a stack in the printer's order.
    void walk(Ref term) {
        std::vector<DotStep> todo{{term, NoNode, NoSide, -1}};
        while (!todo.empty()) {
            DotStep s = todo.back();
            todo.pop_back();
            Node& n = node(s.r);
            if (s.chain >= 0 && n.kind == s.chain && !isdone(s.r) && !istwice(s.r)) {
                if (over()) {
                    cutedge(s.from, s.side);
                    continue;
                }
                walkdone(s.r);  // a link of the chain: drawn, its operand next
                drawinner(s.r);
                edge(s.from, s.side, s.r);
                todo.push_back({n.right, s.r, RightSide, s.chain});
                todo.push_back({n.left, s.r, LeftSide, -1});
                continue;
            }
            bool drawnbefore = isinner(n.kind) && isdone(s.r);
            if (items > PrintItemLimit || (drawn >= DotNodeLimit && !drawnbefore)) {
                cutedge(s.from, s.side);
                continue;
            }
            if (!isinner(n.kind)) {
                drawleaf(s.from, s.side, s.r);
                items++;
                continue;
            }
            edge(s.from, s.side, s.r);
            if (isdone(s.r)) continue;  // drawn already: the edge leads back to it
            walkdone(s.r);
            drawinner(s.r);
            if (istwice(s.r)) items++;  // its label
            if (isoneoperand(n.kind)) {
                items++;
                todo.push_back({n.left, s.r, LeftSide, -1});
            } else if (n.kind == APP) {
                todo.push_back({n.right, s.r, RightSide, -1});
                todo.push_back({n.left, s.r, LeftSide, -1});
            } else {
                items++;
                todo.push_back({n.right, s.r, RightSide, n.kind});
                todo.push_back({n.left, s.r, LeftSide, -1});
            }
        }
    }
};

void writedot(Ref term, std::FILE* out, const char* title, const FrameMarks* frame) {
    WalkScope walk;
    walkreach(term, WalkFields::Both);
    std::fprintf(out, "digraph \"%s\" {\n", dotquote(title).c_str());
    if (frame != nullptr)
        std::fprintf(out, "  label=\"%s\";\n  labelloc=t;\n  fontname=\"Helvetica\";\n",
                     dotquote(frame->caption).c_str());
    std::fprintf(out, "  node [fontname=\"Helvetica\"];\n  edge [fontname=\"Helvetica\", fontsize=10];\n");
    DotWriter writer;
    writer.out = out;
    writer.frame = frame;
    if (frame != nullptr) {
        // The leaves drawn once, as the nodes they are: those indirections
        // lead to (an argument reduced to a number, shared by every use
        // through its indirections), the rewritten node and the term itself
        // when a step made them leaves, so that they keep their names.
        for (std::size_t i = 0; i < walkcount(); i++) {
            const Node& n = node(walknode(i));
            if (n.kind == IDENT && !isinner(node(n.left).kind)) writer.sharedleaves.insert(n.left);
        }
        if (frame->rewritten != NoNode) writer.sharedleaves.insert(frame->rewritten);
        writer.sharedleaves.insert(term);
    }
    writer.walk(term);
    std::fprintf(out, "}\n");
}

// The reader's warnings (--warn).  The reader absorbs malformed text without
// a word: a line end inside a word joins the two halves, a carriage return is
// an ordinary character, unfinished input is dropped, brackets are closed or
// dropped, and a name nobody defined simply stays a name.  These functions
// tell the user, on standard error, where that happened; none of them changes
// what is read or printed.
//
// Names.  While it parses, the parser reports every leaf it builds and the
// parameters of the lambdas around it; what is neither a parameter in scope
// nor a literal is a name the statement uses, noted with its place.  An
// expression's names are checked at once.  A definition's are kept with the
// definition: the names it uses may be defined later, so they are checked
// only when an expression that uses the definition runs.  A name that is
// neither gets the nearest defined name, macro or operator as a suggestion
// when one is close (nearestname).
#include "reader/reader.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

// A name used (or bound as a parameter) at a place of the program text.
struct NameNote {
    Ref atom;        // the name's atom, a definition once the name is defined
    Place place;     // where it was read
    bool parameter;  // bound here by a lambda, not used
    bool warned;     // the warning about it has been given
};

static std::vector<NameNote> Notes;  // the statement being parsed
static std::vector<Ref> Scope;       // parameters of the lambdas around the parser
static int ParameterDepth = 0;       // > 0 while a lambda's parameter is parsed

// The names a definition's body uses, by the definition's atom entry.  An
// entry counts only while its atom is still that definition: "new" and a
// later definition of the name make it stale.
struct KeptNotes {
    Ref definition = NoNode;
    std::vector<NameNote> notes;
};
static KeptNotes Kept[AtomCapacity];

// A word as a warning shows it: a carriage return as \r, other control
// characters as ?, so a warning stays one line.
static std::string shown(const char* word) {
    std::string s;
    for (const char* c = word; *c != '\0'; c++) {
        if (*c == '\r') s += "\\r";
        else if (static_cast<unsigned char>(*c) < 0x20 || *c == 0x7f) s += '?';
        else s += *c;
    }
    return s;
}

// The place of a slot, or the statement's line when the slot has none.
static Place slotplace(int slot) {
    Place at = TokenPlace[slot];
    if (at.line == 0) at = Place{StatementPlace.line, StatementPlace.source, 0};
    return at;
}

void warnjoined(const char* word, const Place& start) {
    warnf(start.line, start.column, "'%s' runs on across a line end: a line end does not end a word",
          shown(word).c_str());
}

void warncarriage(const char* word, const Place& start) {
    warnf(start.line, start.column, "a carriage return inside the word '%s'", shown(word).c_str());
}

void warnunfinished(Unfinished inside, const Place& start) {
    if (inside == InComment)
        warnf(start.line, start.column, "the input ends inside this comment");
    else
        warnf(start.line, start.column, "the input ends inside this statement; it is dropped");
}

void warnclosed(int slot) {
    Place at = slotplace(slot);
    warnf(at.line, at.column, "'(' is not closed; it is closed at the end of its group");
}

void warndropopen(int slot) {
    Place at = slotplace(slot);
    warnf(at.line, at.column, "'(' is never closed; it is dropped");
}

void warndropclose(int slot) {
    Place at = slotplace(slot);
    warnf(at.line, at.column, "')' closes nothing; it is dropped");
}

// A defined name as a lambda's parameter: expansion replaces every mention
// of a definition, the parameter and its uses in the body included, so the
// lambda no longer binds what its text says.
static void warnparameter(const NameNote& note) {
    const char* name = AtomName[node(note.atom).right];
    warnf(note.place.line, note.place.column,
          "the parameter '%s' is a defined name: expansion replaces it and its uses by the definition",
          shown(name).c_str());
}

void notesstart() {
    Notes.clear();
    Scope.clear();
    ParameterDepth = 0;
}

void paramstart() { ParameterDepth++; }
void paramend() { ParameterDepth--; }
void scopepush(Ref parameter) { Scope.push_back(parameter); }
void scopepop() { Scope.pop_back(); }

void noteleaf(Ref leaf, int slot) {
    std::int32_t kind = node(leaf).kind;
    if (kind != IDENTIFIER && kind != DEFINITION) return;  // literals and strings
    const char* name = AtomName[node(leaf).right];
    if ((name[0] == '(' || name[0] == ')') && name[1] == '\0') {
        // a bracket the parser could not pair, kept as an operand
        Place at = slotplace(slot);
        warnf(at.line, at.column, "'%s' is not paired; it is read as a name", name);
        return;
    }
    NameNote note{leaf, slotplace(slot), ParameterDepth > 0, false};
    if (note.parameter) {
        if (kind == DEFINITION) {
            warnparameter(note);
            note.warned = true;
        }
        Notes.push_back(note);
        return;
    }
    for (auto p = Scope.rbegin(); p != Scope.rend(); ++p)
        if (*p == leaf) return;  // bound by a lambda around it
    Notes.push_back(note);
}

void keepnotes(Ref definition) {
    KeptNotes& k = Kept[node(definition).right];
    k.definition = definition;
    k.notes = Notes;
}

// The notes kept for atom entry i, or null when they are stale.
static std::vector<NameNote>* keptfor(std::int32_t i) {
    Ref d = AtomNode[i];
    if (Kept[i].definition != d || node(d).kind != DEFINITION) return nullptr;
    return &Kept[i].notes;
}

void checknames() {
    // Names warned about and definitions looked into, once a statement each.
    std::vector<Ref> warned;
    bool looked[AtomCapacity] = {};
    // The definitions still to look into, as atom entries.
    std::vector<std::int32_t> pending;
    auto check = [&](const NameNote& note, const char* user) {
        const Node& n = node(note.atom);
        if (n.kind == DEFINITION) {
            if (!looked[n.right]) {
                looked[n.right] = true;
                pending.push_back(std::int32_t(n.right));
            }
            return;
        }
        for (Ref w : warned)
            if (w == note.atom) return;
        warned.push_back(note.atom);
        std::string name = shown(AtomName[n.right]);
        std::string in = user == nullptr ? "" : " (in the definition of '" + shown(user) + "')";
        const char* near = nearestname(AtomName[n.right]);
        std::string hint = near == nullptr ? "" : "; did you mean '" + shown(near) + "'?";
        warnf(note.place.line, note.place.column, "'%s' is neither defined nor bound by a lambda%s%s",
              name.c_str(), in.c_str(), hint.c_str());
    };
    for (const NameNote& note : Notes)
        if (!note.parameter) check(note, nullptr);
    while (!pending.empty()) {
        std::int32_t i = pending.back();
        pending.pop_back();
        std::vector<NameNote>* notes = keptfor(i);
        if (notes == nullptr) continue;
        for (NameNote& note : *notes) {
            if (!note.parameter) {
                check(note, AtomName[i]);
            } else if (!note.warned && node(note.atom).kind == DEFINITION) {
                warnparameter(note);  // defined after the definition that binds it
                note.warned = true;
            }
        }
    }
}

// The edit distance of a and b: the fewest insertions, deletions,
// replacements and swaps of two neighbouring characters that turn one into
// the other.  Words are compared whole up to MaxWord characters; a longer one
// (only the word a warning names could be) is as far as its length says.
static int editdistance(const char* a, const char* b) {
    int la = int(std::min(std::strlen(a), std::size_t(MaxWord)));
    int lb = int(std::min(std::strlen(b), std::size_t(MaxWord)));
    int d[MaxWord + 1][MaxWord + 1];
    for (int i = 0; i <= la; i++) d[i][0] = i;
    for (int j = 0; j <= lb; j++) d[0][j] = j;
    for (int i = 1; i <= la; i++) {
        for (int j = 1; j <= lb; j++) {
            int cost = a[i - 1] == b[j - 1] ? 0 : 1;
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
        }
    }
    return d[la][lb];
}

const char* nearestname(const char* word) {
    const char* best = nullptr;
    int bestdistance = 0;
    // Close: at most a third as many edits as the longer of the two names
    // has characters, so one edit when it has 3 to 5, two when it has 6 to
    // 8; two names of 1 or 2 characters are close to too much to suggest.
    auto consider = [&](const char* name) {
        if (std::strcmp(name, word) == 0) return;
        int most = int(std::max(std::strlen(name), std::strlen(word))) / 3;
        int distance = editdistance(word, name);
        if (distance <= most && (best == nullptr || distance < bestdistance)) {
            best = name;
            bestdistance = distance;
        }
    };
    for (std::int32_t i = 0; i <= AtomTop; i++)
        if (node(AtomNode[i]).kind == DEFINITION) consider(AtomName[i]);
    for (std::int32_t i = 0; i <= MacroTop; i++) consider(MacroTable[i].name);
    for (const char* name : OperatorTable) consider(name);
    return best;
}

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
// only when an expression that uses the definition runs.
#include "reader/reader.h"

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

void warnunfinished(int inside, const Place& start) {
    if (inside == 2)
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
        if (user == nullptr)
            warnf(note.place.line, note.place.column, "'%s' is neither defined nor bound by a lambda",
                  name.c_str());
        else
            warnf(note.place.line, note.place.column,
                  "'%s' is neither defined nor bound by a lambda (in the definition of '%s')",
                  name.c_str(), shown(user).c_str());
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

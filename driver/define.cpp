// Definitions, the statement that extends the language for the rest of the
// run.
#include "driver/driver.h"

#include "reader/reader.h"
#include "reduce/reduce.h"

#include <array>
#include <cstring>
#include <string>
#include <vector>

using Token = std::array<char, NameSlot>;
static void keepbody(Ref d, std::vector<Token> tokens);

// A definition turns the name's own atom into a DefinitionNode, so every
// mention of the name, earlier ones included, now stands for the body.
// A literal stands for a shared constant or a fresh number: defining "0"
// would turn nil, the end of every environment, into a definition, and
// "true" every truth value, so such a definition is refused and nothing
// changes.
Ref defname(int n) {
    const char* name = starray[0];
    if (isliteral(name)) {
        outf("%s cannot be defined\n", name);
        return NoNode;
    }
    Ref d = fatom(name);  // in the atom table, so it survives the parse below
    keeptruthapart(d);
    // The tokens as the parser gets them (it writes over some of its slots),
    // kept with the definition only once the body is parsed.
    std::vector<Token> tokens;
    for (int i = 2; i <= n; i++) std::memcpy(tokens.emplace_back().data(), starray[i], NameSlot);
    Ref body = fterm(2, n);
    profileclaim(body, d);
    keepbody(d, std::move(tokens));
    if (WarnOn) keepnotes(d);
    makedefinition(d, body);
    keepwritten(d, n);
    return d;
}

// TrueNode and FalseNode are built over the atoms x and y.  Before a program
// defines one of these names, the truth values get a private atom of the same
// name, so they go on meaning lambda x y x and lambda x y y.
void keeptruthapart(Ref atom) {
    Ref lambdas[4] = {TrueNode, node(TrueNode).right, FalseNode, node(FalseNode).right};
    Ref own = NoNode;
    for (Ref l : lambdas) {
        Node& x = node(l);
        if (x.left != atom && x.right != atom) continue;
        if (own == NoNode) {
            own = takenode();  // atom and the lambdas are roots throughout
            node(own).kind = IDENTIFIER;
            node(own).right = node(atom).right;
        }
        if (x.left == atom) x.left = own;
        if (x.right == atom) x.right = own;
    }
}

// ---- a stop leaves no trace in the definitions ---------------------------
// Call by need writes every result over the node it reduced, and a
// definition's expanded body is the very graph every later use reduces.  A
// statement that stops part way leaves its work hanging from the bodies it
// rewrote: a runaway (a term without a normal form) then stays reachable
// from its definition and holds the pool against every later statement.
// So each definition keeps the tokens its body was parsed from, and after a
// stop every expanded definition gets its body back from them, parsed
// afresh and not yet expanded: it answers as it did before the stopped
// statement, and what that statement built is free for the next collection.
// A statement that finishes keeps the shared, evaluated bodies.
//
// One expansion cannot be made again from text: a definition expanded while
// a name it uses had a body since replaced by a redefinition holds the old
// body (expansions keep what they found).  Such a definition is frozen: a
// stop leaves it as it is.
struct KeptBody {
    std::vector<Token> tokens;  // slots 2..n of the definition statement
    bool frozen = false;        // see above
};
static KeptBody Kept[AtomCapacity];  // by the definition's AtomTable index

// The text of each definition as written (its tokens after "=", a blank
// between two), by the definition's atom entry, for :show.  An entry counts
// only while its atom is still that definition.  Kept only in a session.
struct WrittenDefinition {
    Ref definition = NoNode;
    std::string text;
};
static WrittenDefinition Written[AtomCapacity];

void keepwritten(Ref definition, int n) {
    if (!Options.session) return;
    WrittenDefinition& w = Written[node(definition).right];
    w.definition = definition;
    w.text.clear();
    for (int i = 2; i <= n; i++) {
        if (i > 2) w.text += ' ';
        w.text += starray[i];
    }
}

const std::string* writtentext(int i) {
    return Written[i].definition == AtomNode[i] ? &Written[i].text : nullptr;
}

void forgetwritten() {
    for (WrittenDefinition& w : Written) w = WrittenDefinition{};
}

void forgetkept() {
    for (KeptBody& k : Kept) k = KeptBody{};
}

// The AtomTable index of the definition named word, or -1.
static int definitionnamed(const Token& word) {
    for (int i = 0; i <= AtomTop; i++)
        if (node(AtomNode[i]).kind == DEFINITION && std::strcmp(AtomName[i], word.data()) == 0) return i;
    return -1;
}

// Whether the text of definition i names definition target, directly or
// through the texts of the definitions it names.
static bool uses(int i, int target) {
    bool seen[AtomCapacity] = {};
    int todo[AtomCapacity];
    int top = 0;
    todo[top++] = i;
    seen[i] = true;
    while (top > 0) {
        for (const Token& t : Kept[todo[--top]].tokens) {
            int j = definitionnamed(t);
            if (j == target) return true;
            if (j >= 0 && !seen[j]) {
                seen[j] = true;
                todo[top++] = j;
            }
        }
    }
    return false;
}

static void keepbody(Ref d, std::vector<Token> tokens) {
    int index = std::int32_t(node(d).right);
    // A body replaced after it was expanded: every expansion that took it
    // in keeps it, and cannot be made again from text.
    if (node(d).kind == DEFINITION && !isunexpanded(d))
        for (int i = 0; i <= AtomTop; i++)
            if (i != index && node(AtomNode[i]).kind == DEFINITION && !isunexpanded(AtomNode[i]) &&
                uses(i, index))
                Kept[i].frozen = true;
    Kept[index] = KeptBody{std::move(tokens), false};
}

// The body of definition i parsed again from its kept tokens; a stop inside
// the parse (the pool exhausted) comes through as it is.
static Ref parsekept(int i) {
    const std::vector<Token>& tokens = Kept[i].tokens;
    for (std::size_t k = 0; k < tokens.size(); k++) std::memcpy(starray[2 + k], tokens[k].data(), NameSlot);
    bool warn = WarnOn;
    WarnOn = false;  // the text was warned about when it was defined
    struct Restore {
        bool warn;
        ~Restore() { WarnOn = warn; }
    } restore{warn};
    return fterm(2, int(tokens.size()) + 1);
}

bool restoredefinitions(void (*letgo)()) {
    int todo[AtomCapacity];
    int count = 0;
    for (int i = 0; i <= AtomTop; i++) {
        Node& d = node(AtomNode[i]);
        if (d.kind != DEFINITION || isunexpanded(AtomNode[i]) || Kept[i].frozen) continue;
        d.left = nil;  // from here nothing of the old body hangs from it
        todo[count++] = i;
    }
    bool lost = false;
    const char* phase = DepthPhase;
    DepthPhase = "fterm";
    for (int k = 0; k < count; k++) {
        int i = todo[k];
        // Each body is a definition's as soon as it is parsed, so it
        // survives the collections the next parses make; the atom table
        // keeps the definition node itself.
        for (int attempt = 0;; attempt++) {
            try {
                Ref body = parsekept(i);
                profileclaim(body, AtomNode[i]);
                setdefinitionbody(AtomNode[i], body);
                break;
            } catch (const StatementStop&) {
                ParseRootTop = 0;
                // (a walk the stop cut short ended as it unwound)
                if (attempt == 0 && letgo != nullptr) {
                    letgo();  // what else the pool holds, then once more
                    continue;
                }
                // The pool cannot hold the text it held before: the name
                // stands for the error atom, and says so.
                setdefinitionbody(AtomNode[i], ErrorAtom);
                diagf("the definition of %s is lost: the pool cannot hold it", AtomName[i]);
                lost = true;
                break;
            }
        }
    }
    DepthPhase = phase;
    return !lost;
}

void forgetstartupdefinitions() {
    for (int i = 0; i <= StartupAtomTop; i++) {
        // ErrorAtom is the parser's own term and stays the node it is.
        if (AtomNode[i] == ErrorAtom || node(AtomNode[i]).kind != DEFINITION) continue;
        Ref fresh = takenode();
        node(fresh).kind = AtomName[i][0] == '\'' ? STRING : IDENTIFIER;
        node(fresh).right = std::uint32_t(i);
        AtomNode[i] = fresh;
    }
}

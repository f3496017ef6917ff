// Definitions, the statement that extends the language for the rest of the
// run.
#include "driver/driver.h"

#include "reader/reader.h"
#include "reduce/reduce.h"

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
    Ref body = fterm(2, n);
    profileclaim(body, d);
    if (WarnOn) keepnotes(d);
    Node& def = node(d);
    def.kind = DEFINITION;
    def.left = body;
    def.shared = 1;  // not expanded yet
    def.mark = 1;
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

// Atoms and literals: token texts become shared constants, fresh number
// nodes, or interned atoms, so every mention of a name is one node.
#include "reader/reader.h"

#include <cstring>

char AtomName[AtomCapacity][NameSlot];
Ref AtomNode[AtomCapacity];
std::int32_t AtomTop = -1;
std::int32_t StartupAtomTop = -1;

bool fnumber(const char* text, std::int32_t* integer, float* real) {
    std::size_t len = std::strlen(text);
    bool negative = text[0] == '-';
    const char* firstdot = std::strchr(text, '.');
    std::size_t wholeend = firstdot ? std::size_t(firstdot - text) : len;
    // Whole part: every character adds its code minus 48, wrapping in 32 bits.
    std::uint32_t value = 0;
    for (std::size_t i = negative ? 1 : 0; i < wholeend; i++)
        value = value * 10u + (std::uint32_t(static_cast<unsigned char>(text[i])) - 48u);
    if (firstdot == nullptr) {
        if (negative) value = 0u - value;
        *integer = std::int32_t(value);
        return true;
    }
    // Fraction: the characters after the last ".", taken from the last.
    const char* lastdot = std::strrchr(text, '.');
    double f = 0;
    for (const char* c = text + len; c-- > lastdot + 1;)
        f = f / 10 + (double(static_cast<unsigned char>(*c)) - 48);
    std::int32_t whole = std::int32_t(value);
    double r = double(whole) + f / 10;
    if (negative) {
        r = -r;
        whole = std::int32_t(0u - value);
    }
    *integer = whole;
    *real = float(r);
    return false;
}

bool isliteral(const char* text) {
    return std::strcmp(text, "0") == 0 || std::strcmp(text, "0.0") == 0 ||
           std::strcmp(text, "true") == 0 || std::strcmp(text, "false") == 0 ||
           (text[0] >= '0' && text[0] <= '9') || text[0] == '-';
}

Ref fatom(const char* text) {
    if (std::strcmp(text, "0") == 0) return nil;
    if (std::strcmp(text, "0.0") == 0) return RealZeroNode;
    if (std::strcmp(text, "true") == 0) return TrueNode;
    if (std::strcmp(text, "false") == 0) return FalseNode;
    if ((text[0] >= '0' && text[0] <= '9') || text[0] == '-') {
        std::int32_t integer;
        float real;
        bool isint = fnumber(text, &integer, &real);
        Ref r = takenode();
        Node& n = node(r);
        if (isint) {
            n.kind = INTEGER;
            n.left = std::uint32_t(integer);
        } else {
            n.kind = REAL;
            n.left = realbits(real);
        }
        return r;
    }
    for (int i = 0; i <= AtomTop; i++)
        if (std::strcmp(AtomName[i], text) == 0) return AtomNode[i];
    if (AtomTop + 1 >= AtomCapacity) {
        notelimit("'%s' would be name %d; the atom table holds %d, %d of them the interpreter's "
                  "(\"new;\" or \"garbage;\" forgets the program's names)",
                  text, AtomCapacity + 1, AtomCapacity, StartupAtomTop + 1);
        outs(" atoms is overflow in fatom");
        stopmidline(Stop::Reading);
    }
    // The node is taken before the entry exists: a collection inside takenode
    // marks entries 0..AtomTop, and this one holds nothing yet.
    Ref r = takenode();
    int entry = AtomTop + 1;
    std::strncpy(AtomName[entry], text, NameSlot - 1);
    AtomName[entry][NameSlot - 1] = '\0';
    AtomNode[entry] = r;
    AtomTop = entry;
    node(r).kind = text[0] == '\'' ? STRING : IDENTIFIER;
    node(r).right = std::uint32_t(entry);
    return r;
}

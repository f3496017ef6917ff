// Terms in the usual notation, as LaTeX math (--latex): the printer's own text
// of a term, read back item by item and written as a mathematician writes it.
//
// The printer's text is exact about a term's shape: every item followed by
// one blank, a nested operand in parentheses, a chain of one operator flat
// ("lambda x y B", "cons 1 2 0"), a node reached twice labelled "( coN : T )"
// where it first appears and "coN" after.  So the LaTeX says what the
// transcript says, labels included, and typesets any text the printer makes:
// a parsed, expanded or normal-form line, a read-back, a step's whole term.
//
//   printer                 LaTeX
//   lambda x y B            \lambda x\,y.\,B
//   f a b                   f\;a\;b           (juxtaposition)
//   car P, + M N, cons ...  \mathtt{car}\;P, \mathtt{+}\;M\;N, ...
//   ( co12 : T )            (\mathrm{co}_{12}\colon T)
//   co12                    \mathrm{co}_{12}
//   x, square, x'           x, \mathit{square}, x'
//   42, -7, 0.5             42, -7, 0.5
//   'abc                    \text{\texttt{'abc}}
//
// Bounds: after LatexItemLimit items the rest of the term is "\dots", so a
// display stays on a page or two; a character outside ASCII in a name prints
// as "?", which pdflatex typesets in any font.
#include "print/print.h"

#include <cctype>
#include <string>
#include <vector>

namespace {

// The items of the printer's text, read one token at a time.
struct Reader {
    std::vector<std::string_view> tokens;
    std::size_t at = 0;
    int items = 0;  // items written so far
    bool cut = false;

    bool done() const { return at >= tokens.size(); }
    std::string_view peek() const { return done() ? std::string_view() : tokens[at]; }
};

bool isoperatorname(std::string_view word) {
    for (int k = 0; k < OperatorCount; k++)
        if (word == OperatorTable[k]) return true;
    return false;
}

// "co" and digits: the printer's label of a shared node.
bool islabel(std::string_view word) {
    if (word.size() < 3 || word.substr(0, 2) != "co") return false;
    for (char c : word.substr(2))
        if (c < '0' || c > '9') return false;
    return true;
}

bool isnumber(std::string_view word) {
    std::size_t k = word[0] == '-' ? 1 : 0;
    return k < word.size() && ((word[k] >= '0' && word[k] <= '9') || word[k] == '.');
}

// Text for a LaTeX argument, in math or in typewriter type (whose font has
// every ASCII character): the characters TeX gives a meaning escaped, a
// character outside ASCII as "?".
std::string escaped(std::string_view text, bool mathmode) {
    std::string s;
    for (std::size_t k = 0; k < text.size(); k++) {
        unsigned char c = static_cast<unsigned char>(text[k]);
        if (c >= 0x80) {
            if ((c & 0xC0) != 0x80) s += "?";  // one "?" a character, whatever its bytes
            continue;
        }
        switch (c) {
        case '#': case '$': case '%': case '&': case '_': case '{': case '}':
            s += '\\';
            s += char(c);
            break;
        case '\\': s += mathmode ? "\\backslash{}" : "\\textbackslash{}"; break;
        case '^': s += mathmode ? "\\hat{}" : "\\textasciicircum{}"; break;
        case '~': s += mathmode ? "\\sim{}" : "\\textasciitilde{}"; break;
        case '"': s += mathmode ? "''" : "{\\char34}"; break;
        default:
            if (c < 0x20 || c == 0x7f) s += "?";
            else s += char(c);
        }
    }
    return s;
}

std::string atom(std::string_view word) {
    if (islabel(word)) return "\\mathrm{co}_{" + std::string(word.substr(2)) + "}";
    if (word[0] == '\'') return "\\text{\\texttt{" + escaped(word, false) + "}}";
    if (isnumber(word)) {
        bool plain = true;  // digits, a sign, a point: as they are; 1e+06 upright
        for (char c : word) plain = plain && ((c >= '0' && c <= '9') || c == '-' || c == '.');
        return plain ? std::string(word) : "\\mathrm{" + escaped(word, true) + "}";
    }
    // A name: one letter (and primes) in math italic as it is; longer ones as
    // a word, so "square" does not read as s q u a r e.
    std::size_t letters = word.find('\'');
    if (letters == 1 || (word.size() == 1 && std::isalpha(static_cast<unsigned char>(word[0]))))
        return escaped(word, true);
    return "\\mathit{" + escaped(word, true) + "}";
}

std::string operatorname(std::string_view word) {
    return "\\mathtt{" + escaped(word, false) + "}";
}

std::string sequence(Reader& r);

// True when the item at the reader's place is the last of its group.
bool lastitem(const Reader& r) {
    std::size_t k = r.at;
    int depth = 0;
    do {
        if (r.tokens[k] == "(") depth++;
        else if (r.tokens[k] == ")") depth--;
        k++;
    } while (depth > 0 && k < r.tokens.size());
    return k >= r.tokens.size() || r.tokens[k] == ")";
}

// One item: an atom, a label, or a group in parentheses (labelled or not).
// bare: a group without a label goes without its parentheses (a lambda's
// body, which reaches as far right as it can).
std::string item(Reader& r, bool bare = false) {
    if (r.done()) return "";
    if (r.items >= LatexItemLimit) {
        r.cut = true;
        return "\\dots";
    }
    std::string_view word = r.tokens[r.at++];
    r.items++;
    if (word != "(") return atom(word);
    std::string label;
    if (r.at + 1 < r.tokens.size() && islabel(r.tokens[r.at]) && r.tokens[r.at + 1] == ":") {
        label = atom(r.tokens[r.at]) + "\\colon ";
        r.at += 2;
    }
    std::string inside = sequence(r);
    if (r.peek() == ")") r.at++;
    if (bare && label.empty()) return inside;
    return "(" + label + inside + ")";
}

// The items up to the end of a group: an operator and its operands, or a
// function and its arguments side by side.
std::string sequence(Reader& r) {
    std::vector<std::string> parts;
    std::string_view head = r.peek();
    bool op = !head.empty() && head != "(" && head != ")" && isoperatorname(head);
    if (op) {
        r.at++;
        r.items++;
    }
    while (!r.done() && r.peek() != ")" && !r.cut) {
        // The last item of a lambda chain is its body.
        bool body = op && head == "lambda" && !parts.empty() && r.at + 1 < r.tokens.size() &&
                    lastitem(r);
        parts.push_back(item(r, body));
    }
    while (r.cut && !r.done() && r.peek() != ")") r.at++;  // what the cut leaves out
    std::string out;
    if (op && head == "lambda") {
        // lambda x y B: the parameters, then the body (missing where the
        // printer's own cut fell).
        out = "\\lambda ";
        std::size_t params = parts.size() > 1 ? parts.size() - 1 : parts.size();
        for (std::size_t k = 0; k < params; k++) out += (k > 0 ? "\\," : "") + parts[k];
        out += ".\\,";
        out += parts.size() > 1 ? parts.back() : "\\dots";
        return out;
    }
    if (op) out = operatorname(head);
    for (const std::string& p : parts) {
        if (!out.empty()) out += "\\;";
        out += p;
    }
    return out;
}

}  // namespace

std::string latexterm(std::string_view printed) {
    Reader r;
    std::size_t k = 0;
    while (k < printed.size()) {
        while (k < printed.size() && printed[k] == ' ') k++;
        std::size_t start = k;
        while (k < printed.size() && printed[k] != ' ') k++;
        if (k > start) r.tokens.push_back(printed.substr(start, k - start));
    }
    std::string out;
    while (!r.done()) {
        if (r.peek() == ")") {  // a stray ")" (never from the printer): skipped
            r.at++;
            continue;
        }
        if (!out.empty()) out += "\\;";
        out += sequence(r);
        if (r.cut) break;
    }
    return out;
}

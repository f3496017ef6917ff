// The words of the language, told in a sentence each, for hover and
// completion: the operators (in the store's order), the command words and
// the two constants.
#include "lsp/lsp.h"

#include "store/store.h"

#include <iterator>

// What each operator takes and gives, indexed by NodeKind as OperatorTable.
static const char* const OperatorWords[] = {
    "app F A: F applied to A, as juxtaposition writes it",
    "lambda X B: the function of X whose body is B; lambda x y B takes two",
    "sub T E: the term T under the bindings of the environment E (a closure)",
    "cons H T: a pair, never reduced itself; cons 1 2 0 is a list",
    "print T: prints the normal form of T, gives false",
    "ident T: T itself",
    "car P: the head of a pair; 'ERROR!! for a number or a string",
    "cdr P: the tail of a pair; 'ERROR!! for a number or a string",
    "com V: true for a pair, else false",
    "intatom V: true for an integer, else false",
    "realatom V: true for a real, else false",
    "stratom V: true for a string atom, else false",
    "abs N: the absolute value of an integer",
    "float N: the real nearest an integer",
    "arctan R: the arc tangent of a real, in radians",
    "cos R: the cosine of a real (radians)",
    "exp R: e to the power of a real",
    "ln R: the natural logarithm of a real",
    "sin R: the sine of a real (radians)",
    "sqrt R: the square root of a real",
    "absr R: the absolute value of a real",
    "trunc R: the integer of a real, truncated toward zero",
    "+ M N: the sum of two integers, wrapping at 32 bits",
    "- M N: the difference of two integers",
    "* M N: the product of two integers, low 32 bits",
    "div M N: the quotient of two integers, truncated toward zero",
    "mod M N: the remainder of two integers, with the sign of M",
    "= M N: true when two integers are equal",
    "< M N: true when M is less than N (integers)",
    "<> M N: true when two integers differ",
    "<= M N: true when M is at most N (integers)",
    "+r R S: the sum of two reals",
    "-r R S: the difference of two reals",
    "*r R S: the product of two reals",
    "/ R S: the quotient of two reals",
    "=r R S: true when two reals are equal",
    "<r R S: true when R is less than S (reals)",
    "<>r R S: true when two reals differ",
    "<=r R S: true when R is at most S (reals)",
    "=s A B: true when two string atoms are the same atom",
};
static_assert(std::size(OperatorWords) == OperatorCount, "a sentence for every operator");

// The command words and the constants, each with its sentence.
static const char* const OtherWords[][2] = {
    {"exit", "exit;: ends the run; nothing after it is read"},
    {"new", "new;: forgets every definition and name made so far"},
    {"garbage", "garbage;: forgets them, then runs the collector"},
    {"normal", "normal;: expands the definitions in the last result again, or reduces a stopped statement on"},
    {"space", "space;: prints one blank"},
    {"write", "write W;: prints the word W"},
    {"writeln", "writeln W;: prints the word W and a line end"},
    {"insatu", "insatu;: when the pool runs out, print the term under reduction first"},
    {"noinsatu", "noinsatu;: do not print it (the default)"},
    {"macro", "macro N BODY;: N stands for the words of BODY wherever it is read"},
    {"true", "true: lambda x y x"},
    {"false", "false: lambda x y y"},
};

// Completion kinds of the protocol.
constexpr int KindKeyword = 14;
constexpr int KindOperator = 24;
constexpr int KindConstant = 21;

const char* describe(const std::string& word) {
    for (int k = 0; k < OperatorCount; k++)
        if (word == OperatorTable[k]) return OperatorWords[k];
    for (const auto& w : OtherWords)
        if (word == w[0]) return w[1];
    return nullptr;
}

std::vector<std::pair<std::string, int>> languagewords() {
    std::vector<std::pair<std::string, int>> words;
    for (int k = 0; k < OperatorCount; k++)
        words.emplace_back(OperatorTable[k], k == LAMBDA ? KindKeyword : KindOperator);
    for (const auto& w : OtherWords) {
        std::string word = w[0];
        words.emplace_back(word, word == "true" || word == "false" ? KindConstant : KindKeyword);
    }
    return words;
}

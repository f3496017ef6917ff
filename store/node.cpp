// The operator names, indexed by NodeKind; the parser looks names up here and
// the printer prints them.
#include "store/store.h"

const char OperatorTable[OperatorCount][NameSlot] = {
    "app", "lambda", "sub", "cons", "print", "ident",
    "car", "cdr", "com", "intatom", "realatom", "stratom", "abs", "float",
    "arctan", "cos", "exp", "ln", "sin", "sqrt", "absr", "trunc",
    "+", "-", "*", "div", "mod", "=", "<", "<>", "<=",
    "+r", "-r", "*r", "/", "=r", "<r", "<>r", "<=r", "=s",
};
static_assert(sizeof(OperatorTable) / sizeof(OperatorTable[0]) == OperatorCount);
static_assert(EQS == OperatorCount - 1 && KINDCOUNT == 45);

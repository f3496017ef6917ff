// The tokenizer: how program text is cut into starray slots, what each call
// echoes, what it leaves in the slots after the statement, macro expansion,
// and the slot bound.
#include "harness.h"

using Tokenizer = Kestrivo;

TEST_F(Tokenizer, TerminatorsSplitWords) {
    EXPECT_TRUE(TokensAre("a-b;", {"a", "-b"}));
    EXPECT_TRUE(TokensAre("x+1;", {"x", "+1"}));
    EXPECT_TRUE(TokensAre("2*3;", {"2", "*3"}));
    EXPECT_TRUE(TokensAre("- 1;", {"-", "1"}));
    EXPECT_TRUE(TokensAre("+r 1.5 2;", {"+r", "1.5", "2"}));
    EXPECT_TRUE(TokensAre("<>r <= =s 'abc;", {"<>r", "<=", "=s", "'abc"}));
    EXPECT_TRUE(TokensAre("(f x);", {"(", "f", "x", ")"}));
    EXPECT_TRUE(TokensAre("f[x]{y};", {"f", "[", "x", "]", "{", "y", "}"}));
    // "*", "+" and "-" end the word before them and start one that runs to
    // the next terminator, itself included.
    EXPECT_TRUE(TokensAre("a*b+c-d;", {"a", "*b", "+c", "-d"}));
    EXPECT_TRUE(TokensAre("--1 +-2;", {"-", "-1", "+", "-2"}));
    // "%" ends a word and opens a comment; tabs separate like blanks.
    EXPECT_TRUE(TokensAre("ab%c%d;", {"ab", "d"}));
    EXPECT_TRUE(TokensAre("\tf\t\tx ;", {"f", "x"}));
    // Characters with no role of their own belong to words.
    EXPECT_TRUE(TokensAre("'a.=<>/!;", {"'a.=<>/!"}));
    EXPECT_TRUE(TokensAre("a\rb;", {"a\rb"}));
    // Brackets stand alone even when glued together.
    EXPECT_TRUE(TokensAre("((a))b;", {"(", "(", "a", ")", ")", "b"}));
    // A word of exactly 8 characters fits its slot.
    EXPECT_TRUE(TokensAre("realatom abcdefgh;", {"realatom", "abcdefgh"}));
}

TEST_F(Tokenizer, LinesAndEcho) {
    // Two statements on one line: the line is echoed once, by the first call;
    // the second call reads nothing.
    Tokens first = tokenize("f x; g y;\nexit;\n");
    EXPECT_EQ(first.slot, (std::vector<std::string>{"f", "x"}));
    EXPECT_EQ(first.last, 1);
    EXPECT_EQ(first.echo, "f x; g y;\n");
    Tokens second = next();
    EXPECT_EQ(second.slot, (std::vector<std::string>{"g", "y"}));
    EXPECT_EQ(second.last, 1);
    EXPECT_EQ(second.echo, "");

    // A statement over two lines: both lines echoed, in order, by the call.
    Tokens spanning = tokenize("f\n x;\n");
    EXPECT_EQ(spanning.slot, (std::vector<std::string>{"f", "x"}));
    EXPECT_EQ(spanning.echo, "f\n x;\n");

    // The end of a line does not end a word; a blank at either side does.
    EXPECT_TRUE(TokensAre("ab\ncd;", {"abcd"}));
    EXPECT_TRUE(TokensAre("ab \ncd;", {"ab", "cd"}));
    EXPECT_TRUE(TokensAre("ab\n cd;", {"ab", "cd"}));

    // Empty lines are echoed as empty lines and skipped.
    Tokens afterempty = tokenize("\n\nf;\n");
    EXPECT_EQ(afterempty.slot, (std::vector<std::string>{"f"}));
    EXPECT_EQ(afterempty.echo, "\n\nf;\n");

    // A comment may span lines; the ";" and brackets inside it do nothing.
    Tokens comment = tokenize("% holds ; and ( %x;\n");
    EXPECT_EQ(comment.slot, (std::vector<std::string>{"x"}));
    EXPECT_EQ(comment.last, 0);
    Tokens longcomment = tokenize("f % a ; ( \n b ) % g;\n");
    EXPECT_EQ(longcomment.slot, (std::vector<std::string>{"f", "g"}));
    EXPECT_EQ(longcomment.echo, "f % a ; ( \n b ) % g;\n");
}

TEST_F(Tokenizer, EmptyStatementsAndTheSlotAfterTheLast) {
    Tokens empty = tokenize(";\n");
    EXPECT_EQ(empty.last, -1);
    EXPECT_EQ(empty.echo, ";\n");

    // A blank before ";" is left in the slot after the last token.
    Tokens write = tokenize("write ;\n");
    EXPECT_EQ(write.slot, (std::vector<std::string>{"write"}));
    EXPECT_EQ(write.last, 0);
    EXPECT_STREQ(starray[1], " ");
    EXPECT_TRUE(TokensAre("f x\t;", {"f", "x"}));
    EXPECT_STREQ(starray[2], "\t");

    // So is the "%" of a comment that ends just before it.
    Tokens onlycomment = tokenize("% nothing here %;\n");
    EXPECT_EQ(onlycomment.last, -1);
    EXPECT_STREQ(starray[0], "%");
    EXPECT_TRUE(TokensAre("f %c%;", {"f"}));
    EXPECT_STREQ(starray[1], "%");

    // Otherwise the slots after the last token keep older text.
    ASSERT_TRUE(TokensAre("a b c d;", {"a", "b", "c", "d"}));
    ASSERT_TRUE(TokensAre("f x;", {"f", "x"}));
    EXPECT_STREQ(starray[2], "c");
    EXPECT_STREQ(starray[3], "d");
    // ... and a bracket before ";" is a token, not a leftover.
    EXPECT_TRUE(TokensAre("g (;", {"g", "("}));
    EXPECT_STREQ(starray[2], "c");
}

TEST_F(Tokenizer, MacrosExpandWhereTheyAreRead) {
    // Macros are defined the way the macro statement defines them.
    auto define = [&](const char* statement) {
        Tokens t = tokenize(statement);
        ASSERT_EQ(t.status, -1) << statement;
        capture([&] { defmacro(t.last); });
    };
    define("macro m a b;");
    ASSERT_EQ(MacroTop, 0);
    EXPECT_STREQ(MacroTable[0].body, "a b ;");
    EXPECT_TRUE(TokensAre("f m c;", {"f", "a", "b", "c"}));
    EXPECT_TRUE(TokensAre("m;", {"a", "b"}));  // the first token passes the check too

    define("macro e;");  // a body with no token
    EXPECT_STREQ(MacroTable[1].body, ";");
    EXPECT_TRUE(TokensAre("f e c;", {"f", "c"}));
    EXPECT_TRUE(TokensAre("e;", {}));

    // The tokens of a macro statement are expanded as well: this defines a
    // macro named a.
    EXPECT_TRUE(TokensAre("macro m z;", {"macro", "a", "b", "z"}));

    // Expansion is recursive and sees rows added after the body was stored.
    define("macro p q 1;");
    define("macro q 2 m;");
    EXPECT_TRUE(TokensAre("p;", {"2", "a", "b", "1"}));

    // Two rows of the same name: the first one stays in force.  (A macro
    // statement cannot make the second row itself, since its name token is
    // expanded before it is stored, so the slots are filled directly.)
    define("macro r first;");
    std::strcpy(starray[0], "macro");
    std::strcpy(starray[1], "r");
    std::strcpy(starray[2], "second");
    capture([&] { defmacro(2); });
    ASSERT_EQ(MacroTop, 5);
    EXPECT_STREQ(MacroTable[5].name, "r");
    EXPECT_TRUE(TokensAre("r;", {"first"}));
    // ... and the statement expands its name first: this defines "first".
    EXPECT_TRUE(TokensAre("macro r again;", {"macro", "first", "again"}));

    // Only words are looked up: not brackets, not text inside a comment,
    // and not a longer word that starts with a macro's name.
    EXPECT_TRUE(TokensAre("(m) %m% mm;", {"(", "a", "b", ")", "mm"}));
    EXPECT_TRUE(TokensAre("x-m;", {"x", "-m"}));
}

TEST_F(Tokenizer, BracketsAreNeverMacroNames) {
    Tokens t = tokenize("macro ( x;");
    ASSERT_EQ(t.last, 2);
    capture([&] { defmacro(t.last); });
    ASSERT_EQ(MacroTop, 0);
    EXPECT_TRUE(TokensAre("(f);", {"(", "f", ")"}));
}

TEST_F(Tokenizer, TokenCapacityFour) {
    shutdown();
    boot(5, 4);  // start-up's own "lambda x y x;" fits: four tokens

    EXPECT_TRUE(TokensAre("lambda x y x;", {"lambda", "x", "y", "x"}));

    // A blank before ";" already needs a fifth slot.
    Tokens blank = tokenize("lambda x y x ;\n");
    EXPECT_EQ(blank.status, 0);
    EXPECT_EQ(blank.echo,
              "lambda x y x ;\nstarray is overflow in yomikomiTHE END...................\n");
    // So does a comment there.
    Tokens comment = tokenize("a b c d%c%;\n");
    EXPECT_EQ(comment.status, 0);
    EXPECT_EQ(comment.echo,
              "a b c d%c%;\nstarray is overflow in yomikomiTHE END...................\n");
    // A fifth token of course.
    EXPECT_EQ(tokenize("a b c d e;\n").status, 0);

    // The bound holds for the slots a macro body fills: its tokens are
    // followed by blanks, so the body "a b ;" needs a slot after b.
    Tokens def = tokenize("macro m a b;");
    ASSERT_EQ(def.last, 3);
    capture([&] { defmacro(def.last); });
    EXPECT_TRUE(TokensAre("f m;", {"f", "a", "b"}));
    EXPECT_EQ(tokenize("f g m;").status, 0);
}

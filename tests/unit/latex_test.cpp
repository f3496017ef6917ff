// Terms in the usual notation: the printer's text of a term read back and
// written as LaTeX math.  Each case is a text the printer makes, beside the
// LaTeX it must give.
#include "harness.h"

namespace {
testing::AssertionResult TypesetAs(const std::string& printed, const std::string& want) {
    std::string got = latexterm(printed);
    if (got == want) return testing::AssertionSuccess();
    return testing::AssertionFailure() << "printed: " << printed << "\n  want: " << want << "\n  got:  " << got;
}
}  // namespace

TEST(Latex, LambdasApplicationsAndOperators) {
    EXPECT_TRUE(TypesetAs("lambda x y x ", "\\lambda x\\,y.\\,x"));
    // The body of a lambda reaches as far right as it can: no parentheses.
    EXPECT_TRUE(TypesetAs("( lambda x ( * x x ) ) 12 ", "(\\lambda x.\\,\\mathtt{*}\\;x\\;x)\\;12"));
    EXPECT_TRUE(TypesetAs("lambda f x ( f ( f x ) ) ", "\\lambda f\\,x.\\,f\\;(f\\;x)"));
    EXPECT_TRUE(TypesetAs("square 12 ", "\\mathit{square}\\;12"));
    EXPECT_TRUE(TypesetAs("cons 1 2 0 ", "\\mathtt{cons}\\;1\\;2\\;0"));
    EXPECT_TRUE(TypesetAs("car ( cons 'a 'b ) ", "\\mathtt{car}\\;(\\mathtt{cons}\\;\\text{\\texttt{'a}}\\;\\text{\\texttt{'b}})"));
    EXPECT_TRUE(TypesetAs("<>r -1.5 0.25 ", "\\mathtt{<>r}\\;-1.5\\;0.25"));
    EXPECT_TRUE(TypesetAs("1e+06 ", "\\mathrm{1e+06}"));
    // A parameter renamed by the read-back keeps its prime.
    EXPECT_TRUE(TypesetAs("lambda y ( lambda y' y ) ", "\\lambda y.\\,\\lambda y'.\\,y"));
}

TEST(Latex, SharingLabelsAsTheTranscriptGivesThem) {
    EXPECT_TRUE(TypesetAs("cons ( co12 : f x ) co12 ", "\\mathtt{cons}\\;(\\mathrm{co}_{12}\\colon f\\;x)\\;\\mathrm{co}_{12}"));
    EXPECT_TRUE(TypesetAs("( co7 : cons 1 co7 ) ", "(\\mathrm{co}_{7}\\colon \\mathtt{cons}\\;1\\;\\mathrm{co}_{7})"));
    // A labelled body keeps its parentheses and its label.
    EXPECT_TRUE(TypesetAs("lambda x ( co3 : g x ) ", "\\lambda x.\\,(\\mathrm{co}_{3}\\colon g\\;x)"));
    EXPECT_TRUE(TypesetAs("sub ( co5 : lambda y x ) ( cons x 5 0 ) ",
                          "\\mathtt{sub}\\;(\\mathrm{co}_{5}\\colon \\lambda y.\\,x)\\;(\\mathtt{cons}\\;x\\;5\\;0)"));
}

TEST(Latex, NamesTeXWouldMisreadAndCutTerms) {
    EXPECT_TRUE(TypesetAs("a_b x#y $ ", "\\mathit{a\\_b}\\;\\mathit{x\\#y}\\;\\mathit{\\$}"));
    EXPECT_TRUE(TypesetAs("caf\xc3\xa9 ", "\\mathit{caf?}"));
    EXPECT_TRUE(TypesetAs("'x_\\ ", "\\text{\\texttt{'x\\_\\textbackslash{}}}"));
    // The printer's own cut can leave a lambda without its body.
    EXPECT_TRUE(TypesetAs("( lambda x ", "(\\lambda x.\\,\\dots)"));
    EXPECT_TRUE(TypesetAs("", ""));
    // A term of more than LatexItemLimit items ends in \dots, its groups closed.
    std::string list = "cons";
    for (int k = 0; k < 2 * LatexItemLimit; k++) list += " " + std::to_string(k);
    std::string got = latexterm(list + " ");
    EXPECT_EQ(got.substr(got.size() - 5), "\\dots");
    EXPECT_LT(got.size(), std::size_t(LatexItemLimit) * 8);
    got = latexterm("f ( g ( " + list + " ) ) ");
    EXPECT_EQ(got.substr(got.size() - 7), "\\dots))");
}

// Number literals: fnumber's conversion (sign, whole part, fraction, the
// wrapping 32-bit arithmetic and characters that are not digits) and the
// nodes fatom makes of them.
#include "harness.h"

#include <cmath>

using Numbers = Kestrivo;

namespace {

std::uint32_t bits(float f) {
    std::uint32_t b;
    std::memcpy(&b, &f, sizeof b);
    return b;
}

// text converts to the integer value.
::testing::AssertionResult Integer(const char* text, std::int32_t value) {
    std::int32_t i = 12345;
    float r = 0;
    bool isint = fnumber(text, &i, &r);
    if (isint && i == value) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "fnumber(\"" << text << "\")\n  expected: integer "
                                         << value << "\n  actual:   "
                                         << (isint ? "integer " : "real ")
                                         << (isint ? std::to_string(i) : std::to_string(r));
}

// text converts to the real value (bit for bit) with the given whole part.
::testing::AssertionResult Real(const char* text, float value, std::int32_t whole) {
    std::int32_t i = 12345;
    float r = 12345;
    bool isint = fnumber(text, &i, &r);
    if (!isint && bits(r) == bits(value) && i == whole) return ::testing::AssertionSuccess();
    char expected[64], actual[64];
    std::snprintf(expected, sizeof expected, "real %.9g, whole part %d", double(value), whole);
    if (isint)
        std::snprintf(actual, sizeof actual, "integer %d", i);
    else
        std::snprintf(actual, sizeof actual, "real %.9g, whole part %d", double(r), i);
    return ::testing::AssertionFailure() << "fnumber(\"" << text << "\")\n  expected: "
                                         << expected << "\n  actual:   " << actual;
}

}  // namespace

TEST_F(Numbers, IntegersAndRealsWithTheirWholeParts) {
    EXPECT_TRUE(Integer("42", 42));
    EXPECT_TRUE(Integer("-17", -17));
    EXPECT_TRUE(Real("1.25", 1.25f, 1));
    EXPECT_TRUE(Real("-0.5", -0.5f, 0));
    EXPECT_TRUE(Real("-2.75", -2.75f, -2));
    EXPECT_TRUE(Real("5.", 5.0f, 5));
    // Several dots: the fraction is what follows the last one.
    EXPECT_TRUE(Real("1.2.3", float(1.3), 1));
    EXPECT_TRUE(Real("7..25", 7.25f, 7));
    EXPECT_TRUE(Integer("00", 0));
    EXPECT_TRUE(Integer("-0", 0));
    EXPECT_TRUE(Real("-.5", -0.5f, 0));
    // Every character of the run counts its code minus 48.
    EXPECT_TRUE(Integer("12ab", ((1 * 10 + 2) * 10 + 49) * 10 + 50));
    EXPECT_TRUE(Integer("-12ab", -1740));
    EXPECT_TRUE(Integer("-r", -66));
    EXPECT_TRUE(Integer("-", 0));
    EXPECT_TRUE(Real("1.a", float(1 + 4.9), 1));  // a = 49, taken as 4.9 after the point
    // Single precision, rounded once from the exact decimal value.
    EXPECT_TRUE(Real("0.1", 0.1f, 0));
    EXPECT_TRUE(Real("16777217.", 16777216.0f, 16777217));
}

TEST_F(Numbers, NegativeZero) {
    std::int32_t i = 1;
    float r = 1;
    ASSERT_FALSE(fnumber("-0.0", &i, &r));
    EXPECT_EQ(bits(r), bits(-0.0f)) << "expected negative zero, got " << r;
    EXPECT_EQ(i, 0);
    ASSERT_FALSE(fnumber("0.0", &i, &r));
    EXPECT_EQ(bits(r), 0u);
}

TEST_F(Numbers, WholePartWrapsIn32Bits) {
    EXPECT_TRUE(Integer("2147483647", 2147483647));
    EXPECT_TRUE(Integer("2147483648", -2147483647 - 1));
    EXPECT_TRUE(Integer("4294967296", 0));
    EXPECT_TRUE(Integer("4294967301", 5));
    EXPECT_TRUE(Integer("-2147483648", -2147483647 - 1));
    EXPECT_TRUE(Integer("-2147483649", 2147483647));
    // A real's value is the wrapped whole part plus the fraction.
    EXPECT_TRUE(Real("4294967296.5", 0.5f, 0));
    EXPECT_TRUE(Real("2147483648.5", float(-2147483648.0 + 0.5), -2147483647 - 1));
}

TEST_F(Numbers, NodesForLiterals) {
    auto check = [&](const char* text, std::int32_t kind, std::uint32_t left) {
        Ref r = fatom(text);
        EXPECT_EQ(node(r).kind, kind) << text;
        EXPECT_EQ(node(r).left, left) << text;
        EXPECT_NE(r, nil) << text;
        EXPECT_NE(r, RealZeroNode) << text;
        return r;
    };
    check("42", INTEGER, 42);
    check("-17", INTEGER, std::uint32_t(-17));
    check("1.25", REAL, bits(1.25f));
    check("5.", REAL, bits(5.0f));
    check("00", INTEGER, 0);  // a fresh zero, not nil
    check("-0", INTEGER, 0);
    check("-0.0", REAL, bits(-0.0f));
    check("12ab", INTEGER, 1740);
    check("-r", INTEGER, std::uint32_t(-66));
    check("-", INTEGER, 0);
    // Numbers are not interned.
    Ref seven = check("7", INTEGER, 7);
    CurrentRoot = seven;  // held, so the next node cannot be this one again
    EXPECT_NE(fatom("7"), seven);

    // The shared constants, by whole text only.
    EXPECT_EQ(fatom("0"), nil);
    EXPECT_EQ(fatom("0.0"), RealZeroNode);
    EXPECT_EQ(fatom("true"), TrueNode);
    EXPECT_EQ(fatom("false"), FalseNode);
    check("0.00", REAL, 0);

    // A leading "." makes a name, not a number: the first name after
    // start-up's x, y and 'ERROR!!, so entry 3.
    EXPECT_EQ(StartupAtomTop, 2);
    Ref dot = fatom(".5");
    EXPECT_EQ(node(dot).kind, IDENTIFIER);
    EXPECT_EQ(node(dot).right, 3u);
    EXPECT_STREQ(AtomName[3], ".5");
    EXPECT_EQ(fatom(".5"), dot);
}

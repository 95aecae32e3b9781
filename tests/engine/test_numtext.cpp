// Number conversion: which texts are numbers, what they read as, how
// numbers are written, and which decimal sign a locale name implies.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <optional>
#include <random>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "core/errors.hpp"
#include "core/numtext.hpp"

namespace pelmo {
namespace {

/// Error number of ParseNumber(text), 0 when it reads.
int ErrorOf(const std::string& text) {
  try {
    (void)ParseNumber(text);
    return 0;
  } catch (const RunTimeError& e) {
    return e.number();
  }
}

TEST(NumText, ReadsSignsExponentsAndBothDecimalSigns) {
  const struct {
    const char* text;
    double value;
  } cases[] = {
      {"0", 0},         {"+17", 17},           {"-17", -17},   {"1.5", 1.5},
      {"-0,25", -0.25}, {".5", 0.5},           {",5", 0.5},    {"5.", 5},
      {"5,", 5},        {"1E3", 1000},         {"2.5e-3", 0.0025}, {"2,5E+2", 250},
      {"-1,5e2", -150}, {"  42  ", 42},        {"\t42\t", 42}, {"0,1", 0.1},
      {"6377397.155", 6377397.155}, {"0.0816968312225275", 0.0816968312225275},
      {"000123.4500", 123.45},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    double v = -999;
    EXPECT_EQ(TryParseNumber(c.text, v), 0);
    EXPECT_EQ(v, c.value);  // correctly rounded: the same double as the literal
    EXPECT_EQ(ParseNumber(c.text), c.value);
    EXPECT_TRUE(IsNumeric(c.text));
  }
  const double z = ParseNumber("-0");
  EXPECT_EQ(z, 0);
  EXPECT_TRUE(std::signbit(z));
  // Longer than any stack buffer: still correctly rounded.
  EXPECT_EQ(ParseNumber("0." + std::string(300, '3')), 0.3333333333333333);
  EXPECT_EQ(ParseNumber("0," + std::string(300, '6') + "e1"), 6.666666666666667);
}

TEST(NumText, RejectsEverythingElseAsTypeMismatch) {
  const std::string rejected[] = {
      "",     " ",     "\t",    "+",     "-",        ".",     ",",      "+-1",     "--1",
      "1-",   "1.5.2", "1,5,2", "1.5,2", "1,5.2",    "1.000,5", "5.500.000", "1 000", "1'000",
      "12a",  "a12",   "1e",    "1e+",   "e5",       ".e5",   "1e5.5",  "1e5,5",   "nan",
      "NaN",  "-nan",  "inf",   "-inf",  "infinity", "0x1p3", "0X1A",   "1 2",     "1\t2",
      "(1)",  "1d3",   "1.5 m", "\xC2\xA0" "1", "0." + std::string(300, '3') + "x",
  };
  for (const std::string& text : rejected) {
    SCOPED_TRACE("\"" + text + "\"");
    double v = 0;
    EXPECT_EQ(TryParseNumber(text, v), errnum::kTypeMismatch);
    EXPECT_FALSE(IsNumeric(text));
    EXPECT_EQ(ErrorOf(text), errnum::kTypeMismatch);
  }
}

TEST(NumText, BeyondTheDoubleRangeIsOverflowAndBelowItIsZero) {
  using Texts = std::vector<std::string>;
  for (const std::string& text :
       Texts{"1e400", "-1e400", "1.8e308", "1e99999999999999999999", "123456789e301",
             "0.00001e314", "1" + std::string(400, '0')}) {
    SCOPED_TRACE(text);
    EXPECT_EQ(ErrorOf(text), errnum::kOverflow);
    EXPECT_FALSE(IsNumeric(text));
  }
  EXPECT_EQ(ParseNumber("1.7976931348623157e308"), std::numeric_limits<double>::max());
  for (const std::string& text :
       Texts{"1e-400", "-1e-400", "1e-99999999999999999999", "0.5e-330", "0e99999999999999999999",
             "-0,000e-99999999999999999999", "0." + std::string(400, '0') + "1"}) {
    SCOPED_TRACE(text);
    double v = 1;
    EXPECT_EQ(TryParseNumber(text, v), 0);
    EXPECT_EQ(v, 0);
  }
  // The smallest subnormal still reads.
  EXPECT_EQ(ParseNumber("4.9406564584124654e-324"), std::numeric_limits<double>::denorm_min());
}

TEST(NumText, ParseNumberThrowsRunTimeErrorWithGermanText) {
  for (const auto& [text, number, what] :
       {std::tuple{"zwölf", errnum::kTypeMismatch, "Typen unverträglich"},
        std::tuple{"1e999", errnum::kOverflow, "Überlauf"}}) {
    try {
      (void)ParseNumber(text);
      ADD_FAILURE() << "no error for " << text;
    } catch (const RunTimeError& e) {
      EXPECT_EQ(e.number(), number);
      EXPECT_STREQ(e.what(), what);
    }
  }
}

TEST(NumText, FormatNumberWritesFifteenSignificantDigits) {
  const struct {
    double value;
    char sign;
    const char* text;
  } cases[] = {
      {0.9996, ',', "0,9996"},
      {0.9996, '.', "0.9996"},
      {1.0 / 3, '.', "0.333333333333333"},
      {2.0 / 3, ',', "0,666666666666667"},
      {0.1 + 0.2, '.', "0.3"},  // 15 digits hide the binary noise
      {100, ',', "100"},
      {3.5, ',', "3,5"},  // no trailing zeros
      {-1234.5, '.', "-1234.5"},
      {33512345.67890123, '.', "33512345.6789012"},
      {999999999999999.9, '.', "1e+15"},
      {-0.0, ',', "0"},
      {123456789012345, ',', "123456789012345"},  // no grouping
  };
  for (const auto& c : cases) EXPECT_EQ(FormatNumber(c.value, c.sign), c.text) << c.text;
  std::string s = "x=";
  AppendNumber(s, 2.25, ',');
  EXPECT_EQ(s, "x=2,25");
}

TEST(NumText, WrittenNumbersReadBack) {
  // Any double, written and read again in both signs, is the same to 15 digits.
  std::mt19937_64 rng(20240611);
  std::uniform_real_distribution<double> mant(-1, 1);
  std::uniform_int_distribution<int> exp(-300, 300);
  for (int i = 0; i < 2000; ++i) {
    const double v = std::ldexp(mant(rng), exp(rng));
    for (char sign : {'.', ','}) {
      const std::string t = FormatNumber(v, sign);
      double back = 0;
      ASSERT_EQ(TryParseNumber(t, back), 0) << t;
      EXPECT_NEAR(back, v, std::fabs(v) * 1e-14) << t;
      EXPECT_EQ(t.find(sign == '.' ? ',' : '.'), std::string::npos) << t;
    }
  }
  // A coordinate in millimetres with a zone prefix, or a height, read and
  // written again is the same text.
  std::uniform_int_distribution<long long> mm(0, 9999999999LL);
  const long long prefixes[] = {3500000000LL, 5500000000LL, 33500000000LL, 0};
  for (int i = 0; i < 3000; ++i) {
    const long long v = prefixes[i % 4] + mm(rng) % (i % 4 == 3 ? 10000000 : 1000000000);
    std::string text = std::to_string(v / 1000);
    if (v % 1000 != 0) {
      std::string f = std::to_string(1000 + v % 1000).substr(1);
      while (f.back() == '0') f.pop_back();
      text += "," + f;
    }
    if (i % 5 == 0 && text != "0") text = "-" + text;
    EXPECT_EQ(FormatNumber(ParseNumber(text), ','), text);
  }
  for (const char* deg : {"9,123456789012", "-177,5", "0,0001"}) {
    EXPECT_EQ(FormatNumber(ParseNumber(deg), ','), deg);
  }
}

// Writing and reading agree with the standard library's conversions to the
// last digit and bit: ties of the 15-digit rounding (a double whose exact
// decimal has 16 digits ending in 5), the limits of the fixed notation,
// random values of every magnitude and random digit strings.
TEST(NumText, SameTextAndBitsAsTheStandardConversions) {
  std::vector<double> values = {1e-4, 9.99999999999999e-5, 0.000099999999999999995, 1e15, 0.5,
                                999999999999999.4, 999999999999999.5, 99999999999999.95, 2.5,
                                1234567890123.375, 5e-324, 1.7976931348623157e308};
  std::mt19937_64 rng(7);
  for (int i = 0; i < 20000; ++i) {
    const int f = 1 + i % 16;  // q / 2^f, q odd, has f decimals, the last a 5
    const double lo = std::ldexp(std::pow(10.0, 15 - f), f);
    values.push_back(std::ldexp(static_cast<double>(static_cast<std::uint64_t>(
                                    lo + 9 * lo * ((rng() >> 11) * 0x1p-53)) | 1), -f));
    values.push_back(std::ldexp(static_cast<double>(rng() >> 11), static_cast<int>(rng() % 120) - 90));
    if (const auto any = std::bit_cast<double>(rng()); std::isfinite(any)) values.push_back(any);
  }
  char buf[64];
  for (const double v : values) {
    for (const auto& [w, sign] : {std::pair{v, '.'}, std::pair{-v, ','}}) {
      std::string ref(buf, std::to_chars(buf, buf + sizeof buf, w == 0 ? 0 : w,
                                         std::chars_format::general, 15).ptr);
      std::replace(ref.begin(), ref.end(), '.', sign);
      ASSERT_EQ(FormatNumber(w, sign), ref) << w;
    }
  }
  for (int i = 0; i < 50000; ++i) {
    std::string text = i % 3 == 0 ? "-" : "";
    const auto n = 1 + rng() % 20, point = rng() % (n + 1);
    for (std::size_t k = 0; k < n; ++k) text += (k == point ? "." : "") + std::to_string(rng() % 10);
    double v = 0;
    ASSERT_EQ(TryParseNumber(text, v), 0) << text;
    const double ref = std::strtod(text.c_str(), nullptr);
    ASSERT_EQ(std::bit_cast<std::uint64_t>(v), std::bit_cast<std::uint64_t>(ref)) << text;
    std::replace(text.begin(), text.end(), '.', ',');
    ASSERT_EQ(ParseNumber(text), ref) << text;
  }
}

TEST(NumText, DecimalSignOfLocaleNames) {
  for (const char* name :
       {"de_DE.UTF-8", "de_DE", "de_AT.UTF-8", "cs_CZ.UTF-8", "fr_FR.ISO-8859-1", "de_DE@euro"}) {
    EXPECT_EQ(DecimalSignOfLocale(name), ',') << name;
  }
  for (const char* name : {"C", "C.UTF-8", "POSIX", "", "en_US.UTF-8", "en_GB", "de_CH.UTF-8"}) {
    EXPECT_EQ(DecimalSignOfLocale(name), '.') << name;
  }
}

/// Sets (or with nullptr clears) an environment variable for one scope.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    value != nullptr ? ::setenv(name, value, 1) : ::unsetenv(name);
  }
  ~ScopedEnv() { old_ ? ::setenv(name_, old_->c_str(), 1) : ::unsetenv(name_); }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  const char* name_;
  std::optional<std::string> old_;
};

TEST(NumText, DecimalSignFromEnvironmentFollowsLcAllThenLcNumericThenLang) {
  const char* const de = "de_DE.UTF-8";
  const struct {
    const char *all, *numeric, *lang;
    char sign;
  } cases[] = {
      {de, "C", "C", ','},
      {nullptr, de, "C", ','},
      {"", nullptr, de, ','},
      {"C", de, de, '.'},
      {nullptr, nullptr, nullptr, '.'},
  };
  for (const auto& c : cases) {
    ScopedEnv all("LC_ALL", c.all), num("LC_NUMERIC", c.numeric), lang("LANG", c.lang);
    EXPECT_EQ(DecimalSignFromEnvironment(), c.sign)
        << (c.all ? c.all : "-") << " " << (c.numeric ? c.numeric : "-") << " "
        << (c.lang ? c.lang : "-");
  }
}

}  // namespace
}  // namespace pelmo

// Writing and reading numbers against the standard library's conversions.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "core/numtext.hpp"

namespace pelmo {
namespace {

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

}  // namespace
}  // namespace pelmo

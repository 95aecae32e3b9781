// The developer self-test records, read back and checked against
// GeographicLib and the test data themselves.
#include <gtest/gtest.h>

#include <GeographicLib/Ellipsoid.hpp>
#include <GeographicLib/Geocentric.hpp>
#include <GeographicLib/TransverseMercatorExact.hpp>
#include <charconv>
#include <clocale>
#include <cmath>
#include <limits>
#include <locale>
#include <numbers>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

#include "geotra/geodesy.hpp"
#include "geotra/selftest.hpp"

namespace {

using pelmo::geotra::FormatShortest;
using pelmo::geotra::WriteSelfTest;

constexpr double kA = 6378137;
constexpr double kECartesian = 0.081819191310869;
constexpr double kEProjection = 0.081819191042816;
constexpr double kLatitude = 50.5217217909352;      // degrees
constexpr double kLongitude = 12.041860067572;      // degrees east of Greenwich
constexpr double kDegree = std::numbers::pi / 180;  // true pi for the oracles

double Flattening(double e) { return 1 - std::sqrt(1 - e * e); }

std::string SelfTestText() {
  std::ostringstream out;
  WriteSelfTest(out);
  return out.str();
}

/// Splits the text into records at CR LF; every record must end with one.
std::vector<std::string> Records(const std::string& text) {
  std::vector<std::string> records;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find("\r\n", start);
    if (end == std::string::npos) {
      ADD_FAILURE() << "record without CR LF: " << text.substr(start);
      break;
    }
    records.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  return records;
}

/// The comma-separated numbers of a record, each read in full by from_chars.
std::vector<double> Numbers(const std::string& record) {
  std::vector<double> values;
  std::size_t start = 0;
  while (true) {
    const std::size_t end = std::min(record.find(',', start), record.size());
    double v = 0;
    const char* first = record.data() + start;
    const char* last = record.data() + end;
    const auto [ptr, ec] = std::from_chars(first, last, v);
    EXPECT_TRUE(ec == std::errc() && ptr == last) << "not a number: " << std::string(first, last);
    values.push_back(v);
    if (end == record.size()) break;
    start = end + 1;
  }
  return values;
}

class GeodesySelfTest : public ::testing::Test {
 protected:
  void SetUp() override {
    text_ = SelfTestText();
    const std::vector<std::string> records = Records(text_);
    ASSERT_EQ(records.size(), 8u);
    for (const std::string& record : records) {
      EXPECT_EQ(record.find_first_of("\r\n"), std::string::npos);
      lines_.push_back(Numbers(record));
    }
    line7_ = records[6];
    const std::size_t counts[] = {1, 3, 3, 3, 6, 2, 4, 2};
    for (std::size_t i = 0; i < 8; ++i) ASSERT_EQ(lines_[i].size(), counts[i]) << "line " << i + 1;
  }

  std::string text_;
  std::vector<std::vector<double>> lines_;
  std::string line7_;
};

TEST_F(GeodesySelfTest, ArcSineAndTestPoint) {
  const double asin = std::asin(0.8);
  EXPECT_LE(std::fabs(lines_[0][0] - asin), 2 * (std::nextafter(asin, 2.0) - asin));
  EXPECT_EQ(lines_[1], (std::vector<double>{3974219.56, 847781.649, 4900373.941}));
}

TEST_F(GeodesySelfTest, GeographicPositionOfTheTestPoint) {
  const GeographicLib::Geocentric oracle(kA, Flattening(kECartesian));
  double lat = 0, lon = 0, h = 0;
  oracle.Reverse(3974219.56, 847781.649, 4900373.941, lat, lon, h);
  const std::vector<double>& line3 = lines_[2];
  EXPECT_NEAR(line3[0], lat, 1e-10);
  EXPECT_NEAR(line3[1], lon, 1e-10);
  EXPECT_NEAR(line3[2], h, 1e-6);
  // It is the Gauss-Krueger test point, about 628 m up.
  EXPECT_NEAR(line3[0], kLatitude, 1e-8);
  EXPECT_NEAR(line3[1], kLongitude, 1e-8);
  EXPECT_NEAR(line3[2], 628, 0.5);
  // And it goes back to the test point.
  for (int i = 0; i < 3; ++i) EXPECT_NEAR(lines_[3][i], lines_[1][i], 1e-5);
}

TEST_F(GeodesySelfTest, MeridianArcAndGaussKrueger) {
  const double f = Flattening(kEProjection);
  const GeographicLib::Ellipsoid ellipsoid(kA, f);
  const std::vector<double>& c = lines_[4];
  const double B = 158.71867002510925 / 180;
  const double G = c[0] * B - c[1] * std::sin(2 * B) + c[2] * std::sin(4 * B) -
                   c[3] * std::sin(6 * B) + c[4] * std::sin(8 * B) - c[5] * std::sin(10 * B);
  EXPECT_NEAR(G, ellipsoid.MeridianDistance(B / kDegree), 1e-3);
  EXPECT_NEAR(c[0], ellipsoid.QuarterMeridian() / (std::numbers::pi / 2),
              1e-5);  // rectifying radius

  const GeographicLib::TransverseMercatorExact tm(kA, f, 1);
  double easting = 0, northing = 0;
  tm.Forward(0, B / kDegree, (0.1315072807629674 / 180) / kDegree, easting, northing);
  EXPECT_NEAR(lines_[5][0], northing, 1e-3);
  EXPECT_NEAR(lines_[5][1], easting + 4500000, 1e-3);
}

TEST_F(GeodesySelfTest, InputsAndInverse) {
  EXPECT_EQ(line7_, "6378137,0.081819191042816,50.5217217909352,0.041860067572");
  // About 3 km from the central meridian the inverse series are exact to
  // well below a millimetre.
  EXPECT_NEAR(lines_[7][0], kLatitude * kDegree, 1e-10);
  EXPECT_NEAR(lines_[7][1], kLongitude, 1e-9);
}

TEST_F(GeodesySelfTest, PeriodAndCrLfWhateverTheLocale) {
  // Records() has split the text at CR LF and found no other line break.
  EXPECT_EQ(text_.substr(text_.size() - 2), "\r\n");

  // A stream that would write numbers with a decimal comma.
  struct CommaPunct : std::numpunct<char> {
    char do_decimal_point() const override { return ','; }
    char do_thousands_sep() const override { return '.'; }
    std::string do_grouping() const override { return "\3"; }
  };
  std::ostringstream comma;
  comma.imbue(std::locale(std::locale::classic(), new CommaPunct));
  WriteSelfTest(comma);
  EXPECT_EQ(comma.str(), text_);

  // The German locale as the process locale, where the system has it.
  const std::string previous = std::setlocale(LC_ALL, nullptr);
  if (std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr) {
    const std::locale global = std::locale::global(std::locale("de_DE.UTF-8"));
    const std::string german = SelfTestText();
    std::locale::global(global);
    std::setlocale(LC_ALL, previous.c_str());
    EXPECT_EQ(german, text_);
  }
}

TEST(GeodesyFormatShortest, ReadsBackToTheSameDouble) {
  EXPECT_EQ(FormatShortest(6378137), "6378137");
  EXPECT_EQ(FormatShortest(0.1), "0.1");
  EXPECT_EQ(FormatShortest(-2.5), "-2.5");
  for (const double v :
       {1.0 / 3, 0.081819191042816, 3974219.56, 1e-300, 6.02214076e23,
        std::numeric_limits<double>::denorm_min(), std::numeric_limits<double>::max(),
        std::numeric_limits<double>::lowest()}) {
    const std::string text = FormatShortest(v);
    double back = 0;
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), back);
    EXPECT_TRUE(ec == std::errc() && ptr == text.data() + text.size()) << text;
    EXPECT_EQ(back, v) << text;
    EXPECT_EQ(text.find(','), std::string::npos);
  }
}

}  // namespace

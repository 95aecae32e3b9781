#include "core/settings.hpp"

#include "core/frontend.hpp"
#include "core/numtext.hpp"

namespace pelmo {

std::array<std::string*, 7> TransformSettings::SevenParFields(int set) {
  if (set == 2) return {&txtP2_1, &txtP2_2, &txtP2_3, &txtP2_4, &txtP2_5, &txtP2_6, &txtP2_7};
  return {&txtP1, &txtP2, &txtP3, &txtP4, &txtP5, &txtP6, &txtP7};
}

std::array<const std::string*, 7> TransformSettings::SevenParFields(int set) const {
  auto fields = const_cast<TransformSettings*>(this)->SevenParFields(set);
  std::array<const std::string*, 7> result{};
  for (std::size_t i = 0; i < fields.size(); ++i) result[i] = fields[i];
  return result;
}

OptionTable DefaultOptionValues(char decimalSign) {
  const std::string scale = FormatNumber(0.9996, decimalSign);
  return {"0",     "15",       "15",        "15",    "15", scale, scale,
          "1",     "0",        "0",         kTrueText, kFalseText, "5500000", "15",
          "0",     "1",        "5500000",   "15",    "0",  "1"};
}

Session::Session(FrontEnd& frontEnd, char decimalSign)
    : OptionValues(DefaultOptionValues(decimalSign)),
      frontEnd_(&frontEnd),
      decimalSign_(decimalSign) {}

void Session::AppendLog(const std::string& text) {
  settings.txtDateien += text;
  frontEnd_->LogChanged(settings.txtDateien);
}

void Session::SetLog(const std::string& text) {
  settings.txtDateien = text;
  frontEnd_->LogChanged(settings.txtDateien);
}

}  // namespace pelmo

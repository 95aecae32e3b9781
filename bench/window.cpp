// One job run from the desktop program's main window, for `make bench`:
// the window (any Qt platform, offscreen in the bench) with the settings of
// a properties file and the given source and target, TRANSFORM pressed
// once. Prints the seconds from the press to the end of the job; exit
// status 1 when the job showed a message.
//
//   QT_QPA_PLATFORM=offscreen pelmo_bench_window PAR SOURCE TARGET

#include <QApplication>
#include <QPushButton>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>

#include "paramfiles/properties.hpp"
#include "window/dialogs.hpp"
#include "window/form1.hpp"

namespace {

/// Messages on standard error; questions answered Yes.
class Boxes : public pelmo::ui::MessageBoxes {
 public:
  bool shown = false;
  using MessageBoxes::message;
  void message(const QString& text, const QString&, pelmo::MsgIcon, const QString&) override {
    std::fprintf(stderr, "%s\n", text.toUtf8().constData());
    shown = true;
  }
  bool yesNo(const QString&, const QString&, pelmo::MsgIcon) override { return true; }
};

}  // namespace

int main(int argc, char* argv[]) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: pelmo_bench_window PAR SOURCE TARGET\n");
    return 2;
  }
  QApplication app(argc, argv);
  auto boxes = std::make_unique<Boxes>();
  const Boxes& shown = *boxes;
  pelmo::ui::Form1 window(nullptr, std::move(boxes));
  window.show();
  pelmo::Session& s = window.session();
  pelmo::OptionTable dialog = s.OptionValues;
  pelmo::LoadProperties(argv[1], s, dialog);
  for (int k = 0; k < pelmo::kOptionCount; ++k) {
    if (k != pelmo::opt::kSevPar && k != pelmo::opt::kTranslation) s.OptionValues[k] = dialog[k];
  }
  const std::string source = argv[2];
  s.settings.txtQuelldatei = source;
  s.settings.txtZielDatei = argv[3];
  s.settings.optSHP = source.ends_with(".shp");
  s.settings.optASCII = !s.settings.optSHP;
  s.Touch();
  window.syncFromSettings();
  QApplication::processEvents();
  const auto t0 = std::chrono::steady_clock::now();
  window.cmdStart->click();
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - t0;
  std::printf("%.6f\n", elapsed.count());
  return shown.shown ? 1 : 0;
}

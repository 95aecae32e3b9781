#include "window/look.hpp"

#include <QApplication>
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QIcon>
#include <QLibraryInfo>
#include <QLocale>
#include <QProxyStyle>
#include <QScreen>
#include <QStyleFactory>
#include <QTranslator>
#include <QWidget>
#include <cmath>

// The resources live in a static library; referencing their initialiser
// keeps them in the program.
static void InitPelmoResources() { Q_INIT_RESOURCE(pelmo); }

namespace pelmo::ui {

namespace {

/// Resolution used when no screen is known (the usual logical resolution).
constexpr double kFallbackDpi = 96.0;

double LogicalDpiX() {
  const QScreen* s = QGuiApplication::primaryScreen();
  return s ? s->logicalDotsPerInchX() : kFallbackDpi;
}

double LogicalDpiY() {
  const QScreen* s = QGuiApplication::primaryScreen();
  return s ? s->logicalDotsPerInchY() : kFallbackDpi;
}

/// Point size of the design font.
constexpr double kDesignPointSize = 8.0;
/// Smallest point size the design font shrinks to, and the step.
constexpr double kSmallestPointSize = 6.0;
constexpr double kPointSizeStep = 0.25;
/// Point size of the fixed-pitch font of the information window.
constexpr double kFixedPointSize = 9.0;

/// Fusion, with check-box and option-button indicators of 12 instead of 14
/// pixels (at 96 dpi) and a 4-pixel gap to the caption: the design gives
/// option buttons 195 twips (13 pixels) of height and tight widths.
class PelmoStyle : public QProxyStyle {
 public:
  PelmoStyle() : QProxyStyle(QStyleFactory::create(QStringLiteral("Fusion"))) {}

  int pixelMetric(PixelMetric metric, const QStyleOption* option,
                  const QWidget* widget) const override {
    const int base = QProxyStyle::pixelMetric(metric, option, widget);
    switch (metric) {
      case PM_IndicatorWidth:
      case PM_IndicatorHeight:
      case PM_ExclusiveIndicatorWidth:
      case PM_ExclusiveIndicatorHeight:
        return static_cast<int>(std::lround(base * kIndicatorShrink));
      case PM_CheckBoxLabelSpacing:
      case PM_RadioButtonLabelSpacing:
        return static_cast<int>(std::lround(base * kSpacingShrink));
      case PM_TabBarTabHSpace:
        // The five tabs of the options dialog share its 5895-twip strip.
        return static_cast<int>(std::lround(base * kTabSpaceShrink));
      default:
        return base;
    }
  }

 private:
  static constexpr double kIndicatorShrink = 12.0 / 14.0;
  static constexpr double kSpacingShrink = 4.0 / 6.0;
  static constexpr double kTabSpaceShrink = 0.5;
};

}  // namespace

int TwipsX(int twips) { return static_cast<int>(std::lround(twips * LogicalDpiX() / kTwipsPerInch)); }

int TwipsY(int twips) { return static_cast<int>(std::lround(twips * LogicalDpiY() / kTwipsPerInch)); }

QRect TwipsRect(int left, int top, int width, int height) {
  return QRect(TwipsX(left), TwipsY(top), TwipsX(width), TwipsY(height));
}

QSize TwipsSize(int width, int height) { return QSize(TwipsX(width), TwipsY(height)); }

void PlaceTwips(QWidget* w, int left, int top, int width, int height) {
  w->setGeometry(TwipsRect(left, top, width, height));
}

void MoveTwips(QWidget* w, int left, int top) { w->move(TwipsX(left), TwipsY(top)); }

void SetUpFixedWindow(QWidget* window, const char* name, const char* title, int width, int height) {
  window->setObjectName(QString::fromLatin1(name));
  window->setWindowTitle(QString::fromUtf8(title));
  window->setFont(DesignFont());
  window->setFixedSize(TwipsSize(width, height));
}

void UseMenuBackground(QWidget* box) {
  QPalette pal = box->palette();
  pal.setColor(QPalette::Base, QApplication::palette("QMenu").color(QPalette::Window));
  box->setPalette(pal);
}

QFont DesignFont() {
  // The tightest captions of the design: an option button of 1095 twips
  // ("GK-general", after a 12-pixel indicator and a 4-pixel gap at 96 dpi)
  // and a label of 1155 twips. Where the condensed face is missing, the
  // size shrinks until they fit.
  static const QFont font = [] {
    QFont f(QStringLiteral("DejaVu Sans Condensed"));
    f.setStyleHint(QFont::SansSerif);
    const double indicator = 16.0 * LogicalDpiX() / kFallbackDpi;
    for (double size = kDesignPointSize; size >= kSmallestPointSize; size -= kPointSizeStep) {
      f.setPointSizeF(size);
      const QFontMetricsF fm(f);
      if (fm.horizontalAdvance(QStringLiteral("GK-general")) + indicator <= TwipsX(1095) &&
          fm.horizontalAdvance(QStringLiteral("Meridian Index")) <= TwipsX(1155)) {
        break;
      }
    }
    return f;
  }();
  return font;
}

QFont FixedPitchFont() {
  QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  font.setFamilies({QStringLiteral("DejaVu Sans Mono"), font.family()});
  font.setStyleHint(QFont::Monospace);
  font.setFixedPitch(true);
  font.setPointSizeF(kFixedPointSize);
  return font;
}

void InitResources() {
  static const bool done = [] {
    InitPelmoResources();
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/pelmo.png")));
    return true;
  }();
  (void)done;
}

void InstallLook(QApplication& app) {
  InitResources();
  app.setStyle(new PelmoStyle);
}

bool InstallToolkitTexts(QApplication& app) {
  const QLocale::Language language = QLocale::system().language();
  if (language != QLocale::German && language != QLocale::C) return false;
  auto* texts = new QTranslator(&app);
  if (!texts->load(QLocale(QLocale::German, QLocale::Germany), QStringLiteral("qtbase"),
                   QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    delete texts;
    return false;
  }
  return QCoreApplication::installTranslator(texts);
}

void CentreOnScreen(QWidget* window) {
  const QScreen* s = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
  if (!s) return;
  const QRect screen = s->geometry();
  const QSize size = window->frameGeometry().size();
  window->move(screen.left() + (screen.width() - size.width()) / 2,
               screen.top() + (screen.height() - size.height()) / 2);
}

}  // namespace pelmo::ui

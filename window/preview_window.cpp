#include "window/preview_window.hpp"

#include <QCheckBox>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QSvgGenerator>
#include <QTextStream>
#include <QVBoxLayout>
#include <chrono>
#include <cmath>
#include <cstdio>

#include "core/fileio.hpp"
#include "core/numtext.hpp"
#include "job/job_start.hpp"
#include "paramfiles/properties.hpp"
#include "window/dialogs.hpp"
#include "window/look.hpp"
#include "window/preview_panel.hpp"

namespace pelmo::ui {

namespace {

/// Filter of "Save picture...".
constexpr const char* kPictureFilter = "PNG-Bild (*.png)|*.png|SVG-Bild (*.svg)|*.svg|";
/// Size of the window at first, and of the headless picture, pixels.
constexpr int kWindowWidth = 1200;
constexpr int kWindowHeight = 680;
/// Least time between two progress notes of the reading.
constexpr std::chrono::milliseconds kProgressInterval{200};

QString Q(const std::string& s) { return QString::fromStdString(s); }

/// The legend strip below the panels.
class LegendStrip : public QWidget {
 public:
  explicit LegendStrip(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("picLegend"));
    setFixedHeight(kLegendHeight);
  }
  std::shared_ptr<const PreviewData> data;

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    PaintLegend(p, QRectF(rect()), data.get());
  }
};

/// "Quelle: GK-Germ (Bessel 1841)".
QString PanelTitle(const TransformSettings& t, int side) {
  const QString what = side == 1 ? QStringLiteral("Quelle") : QStringLiteral("Ergebnis");
  if (!t.optSevPar) return what + QStringLiteral(": Translation");
  return what + QStringLiteral(": ") + QString::fromLatin1(ProjectionName(SideProjection(t, side))) +
         QStringLiteral(" (") + Q(side == 1 ? t.txtBezEll1 : t.txtBezEll2) + QStringLiteral(")");
}

/// The session's front end of the headless picture: messages to standard
/// error, no questions.
class ErrorStream : public FrontEnd {
 public:
  void ShowMessage(const std::string& text, const std::string&, MsgIcon) override {
    std::fprintf(stderr, "pelmo: %s\n", text.c_str());
  }
  bool AskYesNo(const std::string&, const std::string&, MsgIcon) override { return false; }
};

}  // namespace

PreviewWindow::PreviewWindow(Session& session, CommonDialog* files, MessageBoxes* messages,
                             QWidget* parent, bool background)
    : QWidget(parent, Qt::Window), files_(files), messages_(messages) {
  setObjectName(QStringLiteral("frmPreview"));
  setWindowTitle(QStringLiteral("Vorschau"));
  setFont(DesignFont());
  resize(kWindowWidth, kWindowHeight);

  cmdFit = new QPushButton(QStringLiteral("fit"), this);
  cmdFit->setObjectName(QStringLiteral("cmdFit"));
  chkLinked = new QCheckBox(QStringLiteral("linked"), this);
  chkLinked->setObjectName(QStringLiteral("chkLinked"));
  chkLinked->setChecked(true);
  cmdSave = new QPushButton(QStringLiteral("Save picture..."), this);
  cmdSave->setObjectName(QStringLiteral("cmdSave"));
  for (QPushButton* b : {cmdFit, cmdSave}) b->setAutoDefault(false);
  picSource = new PreviewPanel(1, this);
  picResult = new PreviewPanel(2, this);
  legend_ = new LegendStrip(this);
  lblInfo = new QLabel(this);
  lblInfo->setObjectName(QStringLiteral("lblInfo"));
  lblInfo->setWordWrap(true);
  lblInfo->setTextInteractionFlags(Qt::TextSelectableByMouse);
  lblInfo->setText(QStringLiteral("Ein Klick auf einen Punkt zeigt seine Werte."));

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(cmdFit);
  buttons->addWidget(chkLinked);
  buttons->addWidget(cmdSave);
  buttons->addStretch(1);
  auto* panels = new QHBoxLayout;
  panels->setSpacing(0);
  panels->addWidget(picSource, 1);
  panels->addWidget(picResult, 1);
  auto* all = new QVBoxLayout(this);
  all->addLayout(buttons);
  all->addLayout(panels, 1);
  all->addWidget(legend_);
  all->addWidget(lblInfo);

  connect(cmdFit, &QPushButton::clicked, this, &PreviewWindow::cmdFit_Click);
  connect(cmdSave, &QPushButton::clicked, this, &PreviewWindow::cmdSave_Click);
  for (PreviewPanel* panel : {picSource, picResult}) {
    connect(panel, &PreviewPanel::viewChanged, this, [this, panel] {
      moved_ = true;
      Link(panel);
    });
    connect(panel, &PreviewPanel::vertexClicked, this, &PreviewWindow::ShowVertex);
  }
  connect(chkLinked, &QCheckBox::toggled, this, [this](bool on) {
    if (on) Link(picSource);
  });

  // The checks of a job; what refuses a job is shown in the panels.
  std::string refused = PrepareJob(session);
  const TransformSettings& t = session.settings;
  if (refused.empty() && t.txtQuelldatei.empty()) refused = "keine Quelldatei gewählt";
  if (refused.empty() && t.txtQuelldatei == kStandardStreamName) {
    refused = "die Vorschau liest Dateien, nicht die Standardeingabe";
  }
  settings_ = PreviewSettings::From(session);
  for (int side = 1; side <= 2; ++side) {
    PreviewPanel* panel = side == 1 ? picSource : picResult;
    projector_[side - 1] = std::make_unique<SideProjector>(settings_, side);
    panel->content.title = PanelTitle(t, side);
    panel->content.degrees = t.optSevPar && SideProjection(t, side) == Projection::kEll;
    panel->content.projector = projector_[side - 1].get();
    panel->content.decimalSign = session.decimalSign();
  }
  if (!refused.empty()) {
    auto d = std::make_shared<PreviewData>();
    d->error = refused;
    d->errors = 1;
    d->complete = true;
    Receive(d);
    return;
  }
  if (!background) {
    Receive(std::make_shared<PreviewData>(ReadPreview(settings_)));
    return;
  }
  for (PreviewPanel* panel : {picSource, picResult}) {
    panel->content.note = QStringLiteral("(Datei wird gelesen)");
  }
  reader_ = std::thread([this] { Run(); });
}

PreviewWindow::~PreviewWindow() { StopReading(); }

void PreviewWindow::StopReading() {
  cancel_ = true;
  if (reader_.joinable()) reader_.join();
}

void PreviewWindow::closeEvent(QCloseEvent* event) {
  StopReading();
  event->accept();
}

// ---------------------------------------------------------------- reading

void PreviewWindow::Run() {
  // On the reader's thread: the results go to the window as queued calls.
  PreviewReader reader(settings_, cancel_);
  auto quick = std::make_shared<PreviewData>();
  if (reader.Quick(*quick) && !cancel_) {
    QMetaObject::invokeMethod(this, [this, quick] { Receive(quick); }, Qt::QueuedConnection);
  }
  auto full = std::make_shared<PreviewData>();
  auto next = std::chrono::steady_clock::now() + kProgressInterval;
  reader.Full(*full, [&](double share) {
    const auto now = std::chrono::steady_clock::now();
    if (now < next) return;
    next = now + kProgressInterval;
    QMetaObject::invokeMethod(this, [this, share] { Progress(share); }, Qt::QueuedConnection);
  });
  if (cancel_) return;
  QMetaObject::invokeMethod(this, [this, full] { Receive(full); }, Qt::QueuedConnection);
}

void PreviewWindow::Progress(double share) {
  if (finished_) return;
  const QString note = QStringLiteral("(Datei wird gelesen: %1 %)").arg(qRound(share * 100));
  for (PreviewPanel* panel : {picSource, picResult}) {
    panel->content.note = note;
    panel->update();
  }
}

void PreviewWindow::Receive(const std::shared_ptr<const PreviewData>& d) {
  data_ = d;
  finished_ = d->complete;
  map_[0] = FitAffine(*d, 1);
  map_[1] = FitAffine(*d, 2);
  for (PreviewPanel* panel : {picSource, picResult}) {
    panel->content.data = d;
    panel->content.highlight = -1;
    if (finished_) panel->content.note.clear();
    if (!moved_ || !panel->view.valid) panel->Fit();
    panel->update();
  }
  static_cast<LegendStrip*>(legend_)->data = d;
  legend_->update();
  if (finished_) emit done();
}

// ---------------------------------------------------------------- panels

void PreviewWindow::cmdFit_Click() {
  moved_ = false;
  picSource->Fit();
  picResult->Fit();
}

void PreviewWindow::Link(PreviewPanel* from) {
  if (!chkLinked->isChecked() || !data_) return;
  PreviewPanel* to = from == picSource ? picResult : picSource;
  const int side = from->content.side;
  // Fitted to the vertices in view where they allow it, else to all.
  const auto box = from->view.Box(from->plot());
  Affine map = FitAffine(*data_, side, &box);
  if (!map.valid) map = map_[side - 1];
  const double aspect = to->view.valid ? to->view.aspect : 1;
  PanelView v = LinkedView(from->view, map, aspect);
  if (!v.valid) return;
  // The centre exactly, where the chain gives it; the affine's otherwise.
  double x = v.cx, y = v.cy;
  if (Corresponding(side, from->view.cx, from->view.cy, x, y)) {
    v.cx = x;
    v.cy = y;
  }
  to->SetView(v);
}

bool PreviewWindow::Corresponding(int side, double x, double y, double& ox, double& oy) {
  if (!chain_) chain_ = std::make_unique<ChainSession>(settings_);
  if (side == 1) return chain_->Place(x, y, ox, oy);
  // Newton steps with the affine's linear part as the derivative.
  const Affine& m = map_[0];
  const double det = m.Det();
  if (!m.valid || det == 0) return false;
  constexpr int kSteps = 5;
  double sx = ox, sy = oy;
  for (int k = 0; k < kSteps; ++k) {
    double u = 0, w = 0;
    if (!chain_->Place(sx, sy, u, w)) return false;
    const double du = x - u, dw = y - w;
    sx += (m.b[2] * du - m.a[2] * dw) / det;
    sy += (m.a[1] * dw - m.b[1] * du) / det;
  }
  ox = sx;
  oy = sy;
  return std::isfinite(sx) && std::isfinite(sy);
}

void PreviewWindow::ShowVertex(long index) {
  for (PreviewPanel* panel : {picSource, picResult}) {
    panel->content.highlight = index;
    panel->update();
  }
  if (!data_ || index < 0 || static_cast<std::size_t>(index) >= data_->vertices.size()) {
    lblInfo->setText(QString());
    return;
  }
  const PreviewVertex& v = data_->vertices[static_cast<std::size_t>(index)];
  const char sign = picSource->content.decimalSign;
  QString where;
  if (v.item == 0) {
    where = QStringLiteral("Zeile noch nicht gezählt");
  } else if (data_->records) {
    where = QStringLiteral("Record %1, Punkt %2").arg(v.item).arg(v.vertex);
  } else {
    where = QStringLiteral("Zeile %1").arg(v.item);
  }
  // Values as the panels show them; "-" where the chain failed.
  auto value = [&](double x, const PreviewPanel* panel) {
    return std::isfinite(x) ? ValueText(x, panel->content.degrees, sign) : QStringLiteral("-");
  };
  QString text = where + QStringLiteral(":  Quelle ") + value(v.sx, picSource) +
                 QStringLiteral("  ") + value(v.sy, picSource) +
                 QStringLiteral("  \u2192  Ergebnis ") + value(v.rx, picResult) +
                 QStringLiteral("  ") + value(v.ry, picResult);
  if (v.warnings != 0) text += QStringLiteral("  (Warnung)");
  lblInfo->setText(text);
}

// ---------------------------------------------------------------- picture

bool PreviewWindow::SavePicture(const QString& path) {
  const int height = std::max(picSource->height(), picResult->height());
  const QSize size(picSource->width() + picResult->width(), height + kLegendHeight);
  auto paint = [&](QPainter& p) {
    p.setFont(font());
    p.fillRect(QRect(QPoint(), size), Qt::white);
    PaintPanel(p, QRectF(0, 0, picSource->width(), height), picSource->content, picSource->view);
    PaintPanel(p, QRectF(picSource->width(), 0, picResult->width(), height), picResult->content,
               picResult->view);
    PaintLegend(p, QRectF(0, height, size.width(), kLegendHeight), data_.get());
  };
  if (path.endsWith(QStringLiteral(".svg"), Qt::CaseInsensitive)) {
    QSvgGenerator svg;
    svg.setFileName(path);
    svg.setSize(size);
    svg.setViewBox(QRect(QPoint(), size));
    svg.setTitle(QStringLiteral("Pelmo - Vorschau"));
    QPainter p;
    if (!p.begin(&svg)) return false;
    paint(p);
    return p.end();
  }
  QImage image(size, QImage::Format_RGB32);
  QPainter p(&image);
  paint(p);
  p.end();
  return image.save(path, "PNG");
}

void PreviewWindow::cmdSave_Click() {
  if (files_ == nullptr) return;
  files_->setFilter(QString::fromLatin1(kPictureFilter));
  files_->setFilterIndex(1);
  if (!files_->showSave()) return;
  QString path = files_->fileName();
  // Without a known suffix the chosen filter decides.
  if (!path.endsWith(QStringLiteral(".png"), Qt::CaseInsensitive) &&
      !path.endsWith(QStringLiteral(".svg"), Qt::CaseInsensitive)) {
    path += files_->filterIndex() == 2 ? QStringLiteral(".svg") : QStringLiteral(".png");
  }
  if (!SavePicture(path) && messages_ != nullptr) {
    messages_->message(QStringLiteral("Das Bild kann nicht geschrieben werden:\r\n") + path,
                       QString::fromLatin1(kProgramName), MsgIcon::kExclamation);
  }
}

// ---------------------------------------------------------------- headless

int PreviewPictureCommand(const QStringList& args) {
  QTextStream err(stderr);
  QString picture, par, source;
  bool usage = false;
  for (qsizetype i = 1; i < args.size(); ++i) {
    const QString& a = args[i];
    if (a == QLatin1String("--preview-picture") || a == QLatin1String("--par")) {
      if (i + 1 >= args.size()) {
        usage = true;
        break;
      }
      (a == QLatin1String("--par") ? par : picture) = args[++i];
    } else if (source.isEmpty() && !(a.startsWith(QLatin1Char('-')) && a.size() > 1)) {
      source = a;
    } else {
      usage = true;
    }
  }
  if (usage || picture.isEmpty() || source.isEmpty()) {
    err << "usage: pelmo --preview-picture FILE.png [--par FILE] SOURCE\n";
    return 2;
  }
  ErrorStream fe;
  Session session(fe, DecimalSignFromEnvironment());
  TransformSettings& t = session.settings;
  bool typeFromPar = false;
  if (!par.isEmpty()) {
    OptionTable dialog = session.OptionValues;
    try {
      LoadProperties(par.toStdString(), session, dialog);
    } catch (const PropertiesError& e) {
      err << par << ": " << Q(PropertiesErrorMessage(e.number(), false)) << " (" << e.what()
          << ")\n";
      return 1;
    }
    for (int k = 0; k < kOptionCount; ++k) {
      if (k != opt::kSevPar && k != opt::kTranslation) session.OptionValues[k] = dialog[k];
    }
    typeFromPar = t.optSHP || t.optASCII;
  }
  t.txtQuelldatei = source.toStdString();
  if (!typeFromPar) {
    t.optSHP = source.endsWith(QStringLiteral(".shp"), Qt::CaseInsensitive);
    t.optASCII = !t.optSHP;
  }
  session.Touch();
  PreviewWindow window(session, nullptr, nullptr, nullptr, false);
  window.setAttribute(Qt::WA_DontShowOnScreen);
  window.show();
  window.cmdFit_Click();
  if (!window.SavePicture(picture)) {
    err << "pelmo: " << picture << ": the picture cannot be written\n";
    return 1;
  }
  // The picture shows the error too, but a script must not take it for a
  // good preview.
  if (const auto d = window.data(); d && !d->error.empty()) {
    err << "pelmo: " << Q(d->error) << '\n';
    return 1;
  }
  return 0;
}

}  // namespace pelmo::ui

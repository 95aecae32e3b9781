// The preview ("Vorschau"): the source file in the input system and the
// result in the output system side by side, computed in memory through the
// point chain with the settings of the main window, without writing any
// file. The source is read on a thread of its own: a quick picture first,
// then every k-th line or record of the whole file; closing the window
// stops the reading.
#pragma once

#include <QStringList>
#include <QWidget>
#include <atomic>
#include <memory>
#include <thread>

#include "core/settings.hpp"
#include "window/preview_data.hpp"

class QCheckBox;
class QLabel;
class QPushButton;

namespace pelmo::ui {

class CommonDialog;
class MessageBoxes;
class PreviewPanel;

class PreviewWindow : public QWidget {
  Q_OBJECT

 public:
  /// Prepares `session`'s settings as a job does and starts reading its
  /// source: on a thread of its own when `background`, else at once on the
  /// calling thread. "Save picture..." asks through `files` and reports
  /// through `messages` (either may be null where nobody asks).
  PreviewWindow(Session& session, CommonDialog* files, MessageBoxes* messages,
                QWidget* parent = nullptr, bool background = true);
  ~PreviewWindow() override;

  PreviewPanel *picSource, *picResult;
  QPushButton *cmdFit, *cmdSave;
  QCheckBox* chkLinked;
  QLabel* lblInfo;

  /// True once the whole file has been read (or the reading has failed).
  bool finished() const { return finished_; }
  std::shared_ptr<const PreviewData> data() const { return data_; }
  /// Writes both panels and the legend as PNG, or as SVG for a name ending
  /// in ".svg"; false when the file cannot be written.
  bool SavePicture(const QString& path);

 public slots:
  void cmdFit_Click();
  void cmdSave_Click();
  /// Shows vertex `index` (-1: none) in both panels and its values below.
  void ShowVertex(long index);

 signals:
  /// The whole file has been read.
  void done();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void Run();
  void Receive(const std::shared_ptr<const PreviewData>& d);
  void Progress(double share);
  void Link(PreviewPanel* from);
  /// The place in the other panel's system corresponding to (x, y) of
  /// panel `side`, through the chain: forward from the source, by Newton
  /// steps on the chain from the result, starting at `ox`, `oy`.
  bool Corresponding(int side, double x, double y, double& ox, double& oy);
  void StopReading();

  CommonDialog* files_;
  MessageBoxes* messages_;
  PreviewSettings settings_;
  std::unique_ptr<SideProjector> projector_[2];
  std::unique_ptr<ChainSession> chain_;  ///< the window's own, for linking the panels
  std::shared_ptr<const PreviewData> data_;
  Affine map_[2];  ///< fitted to all vertices: source to result, result to source
  QWidget* legend_;
  bool finished_ = false;
  bool moved_ = false;  ///< the user has moved or zoomed a panel
  std::atomic<bool> cancel_{false};
  std::thread reader_;
};

/// `pelmo --preview-picture FILE [--par FILE] SOURCE`: the preview of SOURCE
/// with the settings the window shows at start (or those of the properties
/// file) written as a picture, without a window. `args` are the program's
/// arguments. Returns the exit status (0 written, 1 not written or written
/// with an error of the source or the settings, 2 bad usage), having said
/// why on standard error.
int PreviewPictureCommand(const QStringList& args);

}  // namespace pelmo::ui

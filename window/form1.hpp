// Form1: the main window. Its controls hold every setting of a job that is
// not in the options dialog; "TRANSFORM" runs the job with this window as the
// engine's front end (messages, log, event passes, progress window).
#pragma once

#include <QMainWindow>
#include <QPointer>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/frontend.hpp"
#include "core/settings.hpp"
#include "window/dialogs.hpp"
#include "window/estimate_dialog.hpp"
#include "window/help_window.hpp"
#include "window/info_window.hpp"
#include "window/options_dialog.hpp"
#include "window/preview_window.hpp"
#include "window/progress_window.hpp"

class QAbstractButton;
class QAction;
class QButtonGroup;
class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;

namespace pelmo::ui {

/// File-dialog filters of the main window's commands.
namespace filters {
inline constexpr const char* kShape =
    "Shape - Dateien (*.shp)|*.shp|Alle Dateien (*.*)|*.*| Textdateien (*.txt)|*.txt|"
    "Stapeldateien (*.bat)|*.bat";
inline constexpr const char* kAscii =
    "Alle Dateien (*.*)|*.*| Textdateien (*.txt)|*.txt|Stapeldateien (*.bat)|*.bat";
inline constexpr const char* kProperties = "Einstellungen (*.par)|*.par|Alle Dateien (*.*)|*.*|";
inline constexpr const char* kEllipsoid =
    "Ellipsoid-Parameter (*.ell)|*.ell|Alle Dateien (*.*)|*.*| Textdateien (*.txt)|*.txt|";
inline constexpr const char* kSevenPar =
    "Ellipsoid-Parameter (*.7pr)|*.7pr|Alle Dateien (*.*)|*.*| Textdateien (*.txt)|*.txt|";
/// The seven-parameter files, and shift grids in their place.
inline constexpr const char* kSevenParOrGrid =
    "Ellipsoid-Parameter (*.7pr)|*.7pr|Alle Dateien (*.*)|*.*| Textdateien (*.txt)|*.txt|"
    "Verschiebungsgitter (*.gsb;*.tif)|*.gsb;*.tif|";
}  // namespace filters

/// Window sizes in twips that the options dialog's Apply sets.
inline constexpr int kMainWidth = 10350;
inline constexpr int kExpertHeight = 7335;
inline constexpr int kSimpleHeight = 2500;
inline constexpr int kTranslationHeight = 3500;

class Form1 : public QMainWindow, public FrontEnd {
  Q_OBJECT

 public:
  /// Without a file dialog or message boxes of its own the window uses the
  /// toolkit's.
  explicit Form1(std::unique_ptr<CommonDialog> commonDialog = nullptr,
                 std::unique_ptr<MessageBoxes> messages = nullptr, QWidget* parent = nullptr);
  ~Form1() override;

  Session& session() { return session_; }
  CommonDialog& CommonDialog1() { return *commonDialog_; }
  MessageBoxes& messageBoxes() { return *messages_; }

  // ------------------------------------------------------------ controls
  QPushButton *oeffnen, *speichern, *cmdStart, *Command1;
  QPushButton* cmdPreview;  ///< "Vorschau" beside TRANSFORM
  QLineEdit *txtQuelldatei, *txtZielDatei, *txtPAR;
  QPlainTextEdit* txtDateien;
  QGroupBox *frmAbb1, *frmFiletyp, *Frame1, *frmEll1, *frmTranslation, *frmTrans1, *frmTrans2,
      *frmEll2, *frmAbb2;
  QRadioButton *optInGK, *optInKrovak, *optInBL, *optINetrs, *optINGKallgemein;
  QRadioButton *optOutGK, *optOutKrovak, *optOutBL, *optOUTetrs, *optOutGKallgemein;
  QRadioButton *optSHP, *optASCII;
  QButtonGroup *grpIn, *grpOut, *grpFiletyp;
  QLineEdit *txtEll1a, *txtEll1e, *txtBezEll1, *txtEll2a, *txtEll2e, *txtBezEll2;
  QLabel *Ell1a, *Ell1e, *Ell2a, *Ell2e;
  QPushButton *cmdEll1, *cmdEll2, *cmdSevenPar1, *cmdSevenPar2;
  QLineEdit *txtDX, *txtDY, *txtDH;
  QLabel *lblSevenParTrans, *lblSevenParTrans2;
  QLineEdit *txtsevenParSys, *txtsevenParSys2;
  QLineEdit *txtP1, *txtP2, *txtP3, *txtP4, *txtP5, *txtP6, *txtP7;
  QLineEdit *txtP2_1, *txtP2_2, *txtP2_3, *txtP2_4, *txtP2_5, *txtP2_6, *txtP2_7;
  /// A shift grid in a transformation frame: its extent, applied inverse.
  QLabel *lblGrid1, *lblGrid2;
  QCheckBox *chkInverse1, *chkInverse2;
  QMenu *M_Optionen, *M_Hilfe;
  QAction *M_EinstLa, *M_EinstSp, *mTrenn1, *M_option, *M_Info, *M_Help;
  QAction* M_Estimate;  ///< "Estimate Parameters..."
  QAction* M_Preview;   ///< "Vorschau"

  // ------------------------------------------------------------ other windows
  /// The options dialog; created hidden (and filled from OptionValues) when
  /// it does not exist.
  OptionsDialog& optionsDialog();
  OptionsDialog* existingOptionsDialog() const { return options_; }
  InfoWindow* infoWindow() const { return info_; }
  HelpWindow* helpWindow() const { return help_; }
  ProgressWindow* progressWindow() const { return progress_; }
  EstimateDialog* estimateDialog() const { return estimate_; }
  PreviewWindow* previewWindow() const { return preview_; }

  // ------------------------------------------------------------ used by Apply
  /// Locks (or unlocks) the 24 path, ellipsoid and parameter fields against
  /// typing; they still take values from the dialogs and parameter files.
  void setInputLocked(bool locked);
  void showExpertLayout();
  void showSimpleLayout();
  void showTranslationLayout();

  // ------------------------------------------------------------ settings
  /// Copies the controls into session().settings (and marks the change).
  void syncToSettings();
  /// Shows session().settings in the controls.
  void syncFromSettings();

  /// Sets an option button; False also within its group, which may then
  /// have none selected (as a properties file can leave it).
  static void setOption(QAbstractButton* button, bool value);

  bool jobRunning() const { return jobRunning_; }

  /// Longest time between two event passes during a job.
  static constexpr std::chrono::milliseconds kEventPassInterval{10};

  // ------------------------------------------------------------ FrontEnd
  void ShowMessage(const std::string& text, const std::string& title, MsgIcon icon) override;
  bool AskYesNo(const std::string& text, const std::string& title, MsgIcon icon) override;
  void LogChanged(const std::string& text) override;
  void ProcessEvents() override;
  void ProcessEventsAfter(long points) override;
  void ProgressOpen() override;
  void ProgressClose() override;
  void ProgressPercent(const std::string& text) override;
  void ProgressMin(ProgressBarId bar, float value) override;
  void ProgressMax(ProgressBarId bar, float value) override;
  void ProgressValue(ProgressBarId bar, float value) override;

 public slots:
  void oeffnen_Click();
  void speichern_Click();
  void cmdStart_Click();
  void cmdPreview_Click();
  void Command1_Click();
  void cmdEll1_Click() { LoadEllipsoid(1); }
  void cmdEll2_Click() { LoadEllipsoid(2); }
  void cmdSevenPar1_Click() { LoadSevenPar(1); }
  void cmdSevenPar2_Click() { LoadSevenPar(2); }
  void M_EinstLa_Click();
  void M_EinstSp_Click();
  void M_option_Click();
  void M_Estimate_Click();
  void M_Info_Click();
  void M_Help_Click();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  using Clock = std::chrono::steady_clock;

  void CreateControls();
  void CreateMenus();
  void Form_Load();
  void SetFileFilter();
  /// Reads a file into group or set `number` of the settings; false (and
  /// nothing changed) when the file cannot be used.
  using ParameterFileLoader = std::function<bool(const std::string& path,
                                                 TransformSettings& settings, int number,
                                                 char decimalSign)>;
  /// Asks for a parameter file (of the dialog filter `filter`) and shows
  /// what `load` read from it.
  void LoadParameterFile(const char* filter, const ParameterFileLoader& load, int number,
                         const char* extension);
  void LoadEllipsoid(int group);
  void LoadSevenPar(int set);
  /// Puts the grid `path` into slot `set` (its name into the set's name,
  /// zeros into its fields); false, with a message, when PROJ cannot read it.
  bool UseGrid(int set, const std::string& path);
  /// Shows the slots of session().grids in the transformation frames and
  /// keeps them in the user's settings.
  void ShowGridSlots();
  void SetJobRunning(bool running);
  void EventPass();
  void SetMainHeight(int twips);
  /// The seven-parameter layouts: every frame and the log (expert), or the
  /// file rows alone.
  void ShowSevenParLayout(bool expert);

  Session session_;
  std::unique_ptr<CommonDialog> commonDialog_;
  std::unique_ptr<MessageBoxes> messages_;

  /// Text fields and the settings they stand for.
  std::vector<std::pair<QLineEdit*, std::string TransformSettings::*>> textFields_;
  /// Option buttons and the settings they stand for.
  std::vector<std::pair<QRadioButton*, bool TransformSettings::*>> optionFields_;
  /// The fields the lock option makes read-only.
  std::vector<QLineEdit*> lockable_;

  QPointer<OptionsDialog> options_;
  QPointer<InfoWindow> info_;
  QPointer<HelpWindow> help_;
  QPointer<ProgressWindow> progress_;
  QPointer<EstimateDialog> estimate_;
  QPointer<PreviewWindow> preview_;
  /// Extent texts of the grids in the two slots.
  QString gridExtent_[2];

  bool jobRunning_ = false;
  bool closePending_ = false;
  bool centred_ = false;
  Clock::time_point nextPass_{};
};

}  // namespace pelmo::ui

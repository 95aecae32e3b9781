// frmOptions: the options dialog. It holds the projection details and the
// working modes, keeps them in the session's OptionValues and arranges the
// main window to suit the chosen mode ("Apply").
#pragma once

#include <QDialog>
#include <QSettings>
#include <array>

#include "core/settings.hpp"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QFrame;
class QGroupBox;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTabBar;

namespace pelmo::ui {

class Form1;

/// Number of tabs (and pages) of the dialog.
inline constexpr int kOptionTabs = 5;

/// The user's settings of this program (an INI file in the user's
/// configuration folder).
QSettings UserSettings();

/// The ASCII layout kept in the user's settings of the toolkit (it is no
/// part of properties files).
AsciiLayout StoredAsciiLayout();
void StoreAsciiLayout(const AsciiLayout& layout);

class OptionsDialog : public QDialog {
  Q_OBJECT

 public:
  /// Creates the dialog hidden, centred, with its controls filled from the
  /// session's OptionValues.
  explicit OptionsDialog(Form1& form);

  QTabBar* tbsOptions;
  QFrame* tbsOptionsPanel;  ///< the body of the tab strip, behind the pages
  std::array<QWidget*, kOptionTabs> picOptions{};
  QGroupBox *fraSample1, *fraSample2, *fraSample3, *fraSample4;
  QPushButton *cmdOK, *cmdCancel, *cmdApply;

  // General
  QCheckBox *chk_Sperre, *chkStat1, *chkStat2, *chkExp;
  QGroupBox* Frame1;
  QRadioButton *optSevPar, *optTranslation;
  QButtonGroup* grpModus;
  QFrame* Line1;
  // Gauss Kruger
  QGroupBox *frmGKein, *frmGKaus;
  QComboBox *comGKBM, *comGKBM2;
  QLineEdit *txtMkenn, *txtMkenn2;
  // UTM
  QGroupBox *frmUTMein, *frmUTMaus;
  QComboBox *comUTMBM, *comUTMBM2;
  QLineEdit *txtUTMkenn, *txtUTMkenn2, *txtUTMma, *txtUTMma2;
  // general Gauss Projection
  QGroupBox *Frame2, *Frame3;
  QLineEdit *txtINnorthing, *txtINmeridian, *txtINeasting, *txtINscale;
  QLineEdit *txtOUTnorthing, *txtOUTmeridian, *txtOUTeasting, *txtOUTscale;
  // ASCII
  QGroupBox* fraSample5;
  QCheckBox* chkLayout;
  QLineEdit *txtColumns, *txtHeader;
  QComboBox* comSeparator;

  /// The 20 option entries as the controls hold them now.
  OptionTable controlValues() const;
  /// Fills the controls from 20 option entries (check boxes from their
  /// number, option buttons from their truth value, the rest as text).
  void setControlValues(const OptionTable& values);
  /// The ASCII layout as the controls of the tab "ASCII" hold it; false with
  /// a German reason when they hold none.
  bool layoutValues(AsciiLayout& layout, std::string& error) const;
  void setLayoutValues(const AsciiLayout& layout);

  /// 1-based index of the selected tab, and its selection.
  int selectedTab() const;
  void selectTab(int index);

  /// Closes and discards the dialog without applying.
  void discard();

 signals:
  /// The dialog is being discarded (OK, Cancel, Escape, close box).
  void discarded();

 public slots:
  void cmdApply_Click();
  void cmdOK_Click();
  void cmdCancel_Click();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void reject() override;

 private:
  void CreatePageGeneral(QWidget* page);
  void CreatePageGaussKruger(QWidget* page);
  void CreatePageUtm(QWidget* page);
  void CreatePageGeneralGauss(QWidget* page);
  void CreatePageAscii(QWidget* page);
  void Form_Load();
  void tbsOptions_Click();
  /// Handles Ctrl+Tab; true when the key was used.
  bool HandleKey(QKeyEvent* event);
  void UpdateMeridianIndex(QComboBox* combo, QLineEdit* indexField, bool utm);

  Form1& form_;
  bool discarding_ = false;
};

}  // namespace pelmo::ui

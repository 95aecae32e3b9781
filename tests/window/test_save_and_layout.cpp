// The save dialogs' overwrite question, the tab "ASCII" of the options
// dialog kept in the user's settings, and the toolkit's German buttons.

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>

#include "ui_support.hpp"

namespace pelmo::uitest {
namespace {

TEST_F(WindowTest, SaveDialogsAskBeforeTakingAnExistingFile) {
  struct Case {
    const char* name;
    std::function<void()> press;
    std::function<QString()> result;  // the field, or the file's start
  };
  const Case cases[] = {
      {"Target File", [&] { form->speichern->click(); }, [&] { return form->txtZielDatei->text(); }},
      {"Save Properties", [&] { form->M_EinstSp->trigger(); },
       [&] { return QString::fromStdString(ReadBytes(Path("old.txt")).substr(0, 3)); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteBytes(Path("old.txt"), "alt\r\n");
    const QString before = c.result();
    // No: the dialog comes back proposing the name; Cancel there keeps all.
    files->answers = {QPath("old.txt"), std::nullopt};
    messages->answers = {false};
    c.press();
    ASSERT_EQ(messages->shown.size(), 1u);
    const auto& q = messages->shown[0];
    EXPECT_TRUE(q.question && q.title == "Problem" && q.icon == MsgIcon::kExclamation &&
                q.text.contains(QPath("old.txt")));
    EXPECT_EQ(files->shown.back().proposedName, QPath("old.txt"));
    EXPECT_EQ(c.result(), before);
    EXPECT_EQ(ReadBytes(Path("old.txt")), "alt\r\n");
    // Yes takes it; a new name is taken without a question.
    files->answers = {QPath("old.txt")};
    messages->answers = {true};
    c.press();
    EXPECT_EQ(messages->shown.size(), 2u);
    EXPECT_NE(c.result(), before);
    files->answers = {QPath("new.txt")};
    c.press();
    EXPECT_EQ(messages->shown.size(), 2u);
    messages->shown.clear();
  }
}

TEST_F(WindowTest, AsciiTabAppliedIntoTheSessionAndKeptForTheNextStart) {
  ui::OptionsDialog& d = Dlg();
  EXPECT_FALSE(form->session().asciiLayout.active);
  d.chkLayout->setChecked(true);
  d.txtColumns->setText(QStringLiteral("id,second,first,height,skip"));
  d.comSeparator->setCurrentText(QStringLiteral("semicolon"));
  d.txtHeader->setText(QStringLiteral("2"));
  d.cmdApply->click();
  using C = AsciiColumn;
  const auto expectLayout = [](const AsciiLayout& l) {
    EXPECT_TRUE(l.active && l.separator == AsciiSeparator::kSemicolon && l.headerLines == 2);
    EXPECT_EQ(l.columns, (std::vector<C>{C::kId, C::kSecond, C::kFirst, C::kHeight, C::kSkip}));
  };
  expectLayout(form->session().asciiLayout);
  // A column list that makes no layout: a message, the layout stays.
  d.txtColumns->setText(QStringLiteral("first,rechts"));
  d.cmdApply->click();
  ASSERT_EQ(messages->shown.size(), 1u);
  EXPECT_TRUE(messages->shown[0].text.contains(QStringLiteral("rechts")));
  expectLayout(form->session().asciiLayout);
  // The next start has it (the properties file does not).
  form.reset();
  form = std::make_unique<Form1>(std::make_unique<ScriptedFileDialog>(),
                                 std::make_unique<ScriptedMessages>());
  expectLayout(form->session().asciiLayout);
  EXPECT_EQ(Dlg().txtColumns->text(), "id,second,first,height,skip");
}

TEST(ToolkitTexts, MessageBoxButtonsInGermanWhenNoLanguageIsSet) {
  // The tests run with LC_ALL=C: no language set.
  ASSERT_TRUE(ui::InstallToolkitTexts(*qApp));
  QMessageBox box(QMessageBox::Warning, QStringLiteral("Problem"), QStringLiteral("?"),
                  QMessageBox::Yes | QMessageBox::No | QMessageBox::Ok);
  EXPECT_EQ(box.button(QMessageBox::Yes)->text(), QStringLiteral("&Ja"));
  EXPECT_EQ(box.button(QMessageBox::No)->text(), QStringLiteral("&Nein"));
  EXPECT_EQ(box.button(QMessageBox::Ok)->text(), QStringLiteral("OK"));
}

}  // namespace
}  // namespace pelmo::uitest

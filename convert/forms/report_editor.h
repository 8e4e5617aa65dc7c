#pragma once
// The report editor: a small rich-text word processor whose report is sent to the PACS as a Basic
// Text SR document of the current study.
#include <memory>
#include <string>
#include <vector>

#include "convert/forms/form_batch.h"
#include "core/config.h"
#include "query/studyinfo.h"

class QAction;
class QActionGroup;
class QComboBox;
class QLineEdit;
class QMenuBar;
class QPrinter;
class QPushButton;
class QSpinBox;
class QStatusBar;
class QMenu;
class QTextEdit;
class QToolButton;
class SpellChecker;
class SpellHighlighter;

class TMainForm : public TBatchForm {
  Q_OBJECT
 public:
  // study: the current study, filled by the main window before each showing; cfg: the PACS.
  TMainForm(StudyInfo& study, const SetupCfg& cfg, QWidget* parent = nullptr);
  ~TMainForm() override;

  // Each showing: English menu captions, "Untitled", empty text, fresh UIDs, the INFO line.
  void FormActivate();
  void SelectionChange();
  // "Save Changes?" for a modified text: false when the operator cancelled the operation.
  bool CheckFileSave();
  void FileNewClick();
  void FileOpenClick();
  bool FileSaveClick();
  bool FileSaveAsClick();
  void FilePrintClick();
  // The print preview, pages laid out as PrintTo prints them.
  void FilePrintPreviewClick();
  void FileExitClick() { close(); }
  void EditUndoClick();
  void EditCutClick();
  void EditCopyClick();
  void EditPasteClick();
  void SelectFont();
  void BoldButtonClick();
  void ItalicButtonClick();
  void UnderlineButtonClick();
  // Alignment codes: 0 left, 1 right, 2 centre.
  void AlignClick(int code);
  void FontNameChange();
  void FontSizeChange();
  // "Send": the plain text as it is now becomes a Basic Text SR document of the current study and
  // is sent to the PACS in the background. The text stays editable meanwhile; once the PACS has
  // accepted the report the modified mark is cleared, unless the text changed after the Send.
  void Button1Click();

  // Opens a file as FileOpenClick does after its dialog (.doc in any case: the Word route).
  void OpenFile(const std::string& path);
  // Saves the document as rich text, or as plain text for a .txt name; false (after the message)
  // when the file cannot be written.
  bool SaveTo(const std::string& path);
  // Prints the document into the report's page rectangle: 0.5 inch left and right, 1 inch top
  // and bottom, less the printer's physical offsets; job title "Reporte".
  void PrintTo(QPrinter& printer);

  // Spell checking in a language of the dictionaries found (see SpellChecker); "" turns it off.
  void SetSpellingLanguage(const std::string& language);
  const SpellChecker& Speller() const { return *speller_; }
  // The context menu of the text at a point: suggestions and "Add to dictionary" for a misspelt
  // word, then the usual editing entries.
  QMenu* SpellingMenu(const QPoint& at);

  const std::string& FileName() const { return fileName_; }

  QMenuBar* MainMenu = nullptr;
  QMenu* LanguageMenu = nullptr;
  QAction *FileNew = nullptr, *FileOpen = nullptr, *FileSave = nullptr, *FileSaveAs = nullptr,
          *FilePrint = nullptr, *FilePrintPreview = nullptr, *FileExit = nullptr, *EditUndo = nullptr, *EditCut = nullptr,
          *EditCopy = nullptr, *EditPaste = nullptr, *EditFont = nullptr;
  QToolButton *OpenButton = nullptr, *SaveButton = nullptr, *PrintButton = nullptr, *UndoButton = nullptr,
              *CutButton = nullptr, *CopyButton = nullptr, *PasteButton = nullptr, *BoldButton = nullptr,
              *ItalicButton = nullptr, *UnderlineButton = nullptr, *LeftAlign = nullptr, *CenterAlign = nullptr,
              *RightAlign = nullptr;
  QComboBox* FontName = nullptr;
  QLineEdit* FontSize = nullptr;
  QSpinBox* UpDown1 = nullptr;
  QPushButton* Button1 = nullptr;
  QTextEdit* RichEdit1 = nullptr;
  QStatusBar* StatusBar = nullptr;

 protected:
  void showEvent(QShowEvent* event) override;
  bool MayClose() override;
  bool event(QEvent* event) override;
  // Drops are not taken: a report is opened through File Open.
  void DropUrls(const QList<QUrl>&) override {}

 private:
  void BuildMenu();
  void BuildToolBar(QWidget* bar);
  void SetFileName(const std::string& name);
  void GetFontNames();
  void MergeFormat(const class QTextCharFormat& format);

  StudyInfo& study_;
  const SetupCfg& cfg_;
  std::string fileName_ = "Untitled";
  bool Updating = false;
  bool changedDuringSend_ = false;  // the text changed after the Send took its copy
  std::unique_ptr<SpellChecker> speller_;
  SpellHighlighter* highlighter_ = nullptr;
};

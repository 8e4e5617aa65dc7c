#include "convert/forms/report_editor.h"

#include <QAbstractTextDocumentLayout>
#include <QActionGroup>
#include <QApplication>
#include <QComboBox>
#include <QFileInfo>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QPainter>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QPushButton>
#include <QShowEvent>
#include <QSpinBox>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QTextBlock>
#include <QTextEdit>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <span>

#include "convert/forms/form_batch.h"
#include "convert/forms/rich_text.h"
#include "convert/forms/spell_highlighter.h"
#include "convert/outbox.h"
#include "convert/rtf.h"
#include "convert/spelling.h"
#include "convert/srtext.h"
#include "convert/word_conv.h"
#include "core/cp1252.h"
#include "core/fileutil.h"
#include "core/log.h"
#include "edge/dialogs.h"
#include "edge/layouts.h"
#include "query/findscu.h"
#include "query/studytext.h"

namespace {

constexpr int kMaxFontSize = 1638;

// The character-set byte kept with a font name (TCharsetObject): the first writing system the
// family covers that names one.
int CharsetOf(const QString& family) {
  const QList<QFontDatabase::WritingSystem> systems = QFontDatabase::writingSystems(family);
  static const std::pair<QFontDatabase::WritingSystem, int> kSets[] = {
      {QFontDatabase::Latin, 0},      {QFontDatabase::Symbol, 2},         {QFontDatabase::Japanese, 128},
      {QFontDatabase::Korean, 129},   {QFontDatabase::SimplifiedChinese, 134},
      {QFontDatabase::TraditionalChinese, 136}, {QFontDatabase::Greek, 161}, {QFontDatabase::Vietnamese, 163},
      {QFontDatabase::Hebrew, 177},   {QFontDatabase::Arabic, 178},       {QFontDatabase::Cyrillic, 204},
      {QFontDatabase::Thai, 222}};
  for (const auto& [system, charset] : kSets)
    if (systems.contains(system)) return charset;
  return 1;  // the default character set
}

// A tool button with the theme's icon (its text where the theme has none) and the hint as its
// tool tip, status line text and accessible name.
QToolButton* ToolButton(const char* name, const char* hint, const char* icon, const char* text) {
  auto* b = new QToolButton;
  b->setObjectName(name);
  b->setToolTip(hint);
  b->setStatusTip(hint);
  b->setAccessibleName(hint);
  b->setText(text);
  const QIcon i = ThemeIcon(icon);
  if (!i.isNull()) {
    b->setIcon(i);
    b->setToolButtonStyle(Qt::ToolButtonIconOnly);
  }
  return b;
}

// The report's default font, Tahoma, or the sans font the system puts in its place.
QFont DefaultReportFont() {
  QFont f("Tahoma");
  f.setStyleHint(QFont::SansSerif);
  return QFont(QFontInfo(f).family());
}

}  // namespace

TMainForm::TMainForm(StudyInfo& study, const SetupCfg& cfg, QWidget* parent)
    : TBatchForm(parent), study_(study), cfg_(cfg) {
  setObjectName("MainForm");
  setWindowTitle("Untitled");
  RichEdit1 = new QTextEdit;
  RichEdit1->setObjectName("RichEdit1");
  RichEdit1->setAccessibleName("Report");
  RichEdit1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  RichEdit1->setFont(DefaultReportFont());
  RichEdit1->setAcceptRichText(true);
  StatusBar = new QStatusBar;
  StatusBar->setObjectName("StatusBar");
  StatusBar->setSizeGripEnabled(false);
  BuildMenu();
  auto* bar = new QWidget;
  BuildToolBar(bar);
  Button1 = new QPushButton("Send");
  Button1->setObjectName("Button1");
  auto* top = new QVBoxLayout(this);
  top->setMenuBar(MainMenu);
  top->addWidget(bar);
  top->addWidget(RichEdit1, 1);
  auto* bottom = new QHBoxLayout;
  bottom->addWidget(StatusBar, 1);
  bottom->addWidget(Button1);
  top->addLayout(bottom);
  resize(720, 540);
  connect(Button1, &QPushButton::clicked, this, &TMainForm::Button1Click);
  connect(RichEdit1, &QTextEdit::cursorPositionChanged, this, &TMainForm::SelectionChange);
  connect(RichEdit1, &QTextEdit::currentCharFormatChanged, this, &TMainForm::SelectionChange);
  connect(RichEdit1->document(), &QTextDocument::contentsChanged, this, [this] {
    if (work_.Busy()) changedDuringSend_ = true;
  });
  connect(&work_, &BackgroundWork::StateChanged, this, [this] { Button1->setEnabled(!work_.Busy()); });

  // Spelling: the system's dictionaries, the language from the locale, selectable in the menu.
  speller_ = std::make_unique<SpellChecker>("/usr/share/hunspell", ConfigFolder() + "scrivara-words.txt");
  highlighter_ = new SpellHighlighter(RichEdit1->document(), *speller_);  // owned by the document
  LanguageMenu = MainMenu->addMenu("&Language");
  LanguageMenu->setObjectName("LanguageMenu");
  auto* languages = new QActionGroup(this);
  for (const std::string& language : speller_->Languages()) {
    QAction* a = LanguageMenu->addAction(QString::fromStdString(language));
    a->setCheckable(true);
    languages->addAction(a);
    connect(a, &QAction::triggered, this, [this, language] { SetSpellingLanguage(language); });
  }
  LanguageMenu->setEnabled(!languages->actions().isEmpty());
  const char* locale = std::getenv("LC_ALL");
  if (!locale || !*locale) locale = std::getenv("LANG");
  SetSpellingLanguage(speller_->LanguageFor(locale ? locale : ""));
  RichEdit1->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(RichEdit1, &QTextEdit::customContextMenuRequested, this, [this](const QPoint& at) {
    std::unique_ptr<QMenu> menu(SpellingMenu(at));
    menu->exec(RichEdit1->viewport()->mapToGlobal(at));
  });
}

void TMainForm::SetSpellingLanguage(const std::string& language) {
  if (language.empty() || !speller_->Load(language)) {
    highlighter_->rehighlight();
    return;
  }
  for (QAction* a : LanguageMenu->actions()) a->setChecked(a->text().toStdString() == language);
  highlighter_->rehighlight();
}

QMenu* TMainForm::SpellingMenu(const QPoint& at) {
  QMenu* menu = RichEdit1->createStandardContextMenu(at);
  QTextCursor cursor = RichEdit1->cursorForPosition(at);
  cursor.select(QTextCursor::WordUnderCursor);
  const QString word = cursor.selectedText();
  if (word.isEmpty() || !speller_->Loaded() || speller_->Correct(word.toStdString())) return menu;
  QAction* first = menu->actions().isEmpty() ? nullptr : menu->actions().first();
  for (const std::string& s : speller_->Suggestions(word.toStdString())) {
    auto* a = new QAction(QString::fromStdString(s), menu);
    connect(a, &QAction::triggered, this, [this, cursor, s]() mutable {
      cursor.insertText(QString::fromStdString(s));
      RichEdit1->setTextCursor(cursor);
    });
    menu->insertAction(first, a);
  }
  auto* add = new QAction("Add to dictionary", menu);
  add->setObjectName("AddToDictionary");
  connect(add, &QAction::triggered, this, [this, word] {
    speller_->AddToPersonalList(word.toStdString());
    highlighter_->rehighlight();
  });
  menu->insertAction(first, add);
  menu->insertSeparator(first);
  return menu;
}

TMainForm::~TMainForm() {
  work_.Wait();
  // Reports the PACS has not accepted go to the outbox unasked when the program ends.
  FormClose(false);
  highlighter_->setDocument(nullptr);  // it reads the spell checker, which goes first
}

namespace {

// What a menu entry or a tool button does.
using EditorAction = std::function<void(TMainForm&)>;

// A menu entry: where it goes, its name, its English caption and hint (set at each showing over the
// form's design captions), what it does, and whether a separator follows it.
struct MenuEntry {
  QAction* TMainForm::*action;
  const char *name, *caption, *hint;
  EditorAction run;
  bool separatorAfter;
};

const MenuEntry kFileMenu[] = {
    {&TMainForm::FileNew, "FileNew", "&New", "Create a new file", &TMainForm::FileNewClick, false},
    {&TMainForm::FileOpen, "FileOpen", "&Open", "Open an existing file", &TMainForm::FileOpenClick, false},
    {&TMainForm::FileSave, "FileSave", "&Save", "Save current file", &TMainForm::FileSaveClick, false},
    {&TMainForm::FileSaveAs, "FileSaveAs", "Save&As", "Save current file under a new name",
     &TMainForm::FileSaveAsClick, true},
    {&TMainForm::FilePrint, "FilePrint", "&Print", "Print current file", &TMainForm::FilePrintClick, false},
    {&TMainForm::FilePrintPreview, "FilePrintPreview", "Print Pre&view", "Show the pages as they will be printed",
     &TMainForm::FilePrintPreviewClick, true},
    {&TMainForm::FileExit, "FileExit", "E&xit", "Exit this application", &TMainForm::FileExitClick, false},
};

const MenuEntry kEditMenu[] = {
    {&TMainForm::EditUndo, "EditUndo", "&Undo", "Undo the last action", &TMainForm::EditUndoClick, true},
    {&TMainForm::EditCut, "EditCut", "Cu&t", "Delete selected item", &TMainForm::EditCutClick, false},
    {&TMainForm::EditCopy, "EditCopy", "&Copy", "Copy selected item to clipboard",
     &TMainForm::EditCopyClick, false},
    {&TMainForm::EditPaste, "EditPaste", "&Paste", "Paste contents of clipboard",
     &TMainForm::EditPasteClick, true},
    {&TMainForm::EditFont, "EditFont", "&Font", "Select a font for the text.", &TMainForm::SelectFont,
     true},
};

}  // namespace

void TMainForm::BuildMenu() {
  MainMenu = new QMenuBar;
  MainMenu->setObjectName("MainMenu");
  auto build = [this](const char* title, const char* name, std::span<const MenuEntry> entries) {
    QMenu* menu = MainMenu->addMenu(title);
    menu->setObjectName(name);
    for (const MenuEntry& e : entries) {
      QAction* a = this->*e.action = menu->addAction(QString());
      a->setObjectName(e.name);
      connect(a, &QAction::triggered, this, [this, run = e.run] { run(*this); });
      if (e.separatorAfter) menu->addSeparator();
    }
  };
  build("&Archivo", "FileMenu", kFileMenu);
  build("&Edicion", "EditMenu", kEditMenu);
}

void TMainForm::BuildToolBar(QWidget* bar) {
  // The buttons in their order on the bar: where each goes, its name, hint, theme icon, text
  // without an icon, and what it does (checkable ones act on their state).
  struct Tool {
    QToolButton* TMainForm::*button;
    const char *name, *hint, *icon, *text;
    EditorAction action;
    bool checkable;
  };
  const Tool tools[] = {
      {&TMainForm::OpenButton, "OpenButton", "Open", "document-open", "Open", &TMainForm::FileOpenClick, false},
      {&TMainForm::SaveButton, "SaveButton", "Save", "document-save", "Save", &TMainForm::FileSaveClick, false},
      {&TMainForm::PrintButton, "PrintButton", "Print", "document-print", "Print", &TMainForm::FilePrintClick, false},
      {&TMainForm::UndoButton, "UndoButton", "Undo", "edit-undo", "Undo", &TMainForm::EditUndoClick, false},
      {&TMainForm::CutButton, "CutButton", "Cut", "edit-cut", "Cut", &TMainForm::EditCutClick, false},
      {&TMainForm::CopyButton, "CopyButton", "Copy", "edit-copy", "Copy", &TMainForm::EditCopyClick, false},
      {&TMainForm::PasteButton, "PasteButton", "Paste", "edit-paste", "Paste", &TMainForm::EditPasteClick, false},
      {&TMainForm::BoldButton, "BoldButton", "Bold", "format-text-bold", "B", &TMainForm::BoldButtonClick, true},
      {&TMainForm::ItalicButton, "ItalicButton", "Italic", "format-text-italic", "I", &TMainForm::ItalicButtonClick,
       true},
      {&TMainForm::UnderlineButton, "UnderlineButton", "Underline", "format-text-underline", "U",
       &TMainForm::UnderlineButtonClick, true},
      {&TMainForm::LeftAlign, "LeftAlign", "Align Left", "format-justify-left", "Left",
       [](TMainForm& f) { f.AlignClick(0); }, true},
      {&TMainForm::CenterAlign, "CenterAlign", "Center", "format-justify-center", "Center",
       [](TMainForm& f) { f.AlignClick(2); }, true},
      {&TMainForm::RightAlign, "RightAlign", "Align Right", "format-justify-right", "Right",
       [](TMainForm& f) { f.AlignClick(1); }, true},
  };
  for (const Tool& t : tools) {
    QToolButton* b = this->*t.button = ToolButton(t.name, t.hint, t.icon, t.text);
    b->setCheckable(t.checkable);
    connect(b, &QToolButton::clicked, this, [this, action = t.action] { action(*this); });
  }
  for (QToolButton* b : {LeftAlign, CenterAlign, RightAlign}) b->setAutoExclusive(true);
  FontName = new QComboBox;
  FontName->setObjectName("FontName");
  FontName->setAccessibleName("Font name");
  GetFontNames();
  FontSize = new QLineEdit("12");
  FontSize->setObjectName("FontSize");
  FontSize->setAccessibleName("Font size");
  FontSize->setMaximumWidth(50);
  UpDown1 = new QSpinBox;
  UpDown1->setObjectName("UpDown1");
  UpDown1->setAccessibleName("Font size up and down");
  UpDown1->setRange(1, kMaxFontSize);
  UpDown1->setValue(12);
  UpDown1->setButtonSymbols(QAbstractSpinBox::UpDownArrows);
  UpDown1->setMaximumWidth(22);
  auto* row = new QHBoxLayout(bar);
  row->setContentsMargins(0, 0, 0, 0);
  for (QWidget* w : std::initializer_list<QWidget*>{OpenButton, SaveButton, PrintButton, UndoButton, CutButton,
                                                    CopyButton, PasteButton, FontName, FontSize, UpDown1, BoldButton,
                                                    ItalicButton, UnderlineButton, LeftAlign, CenterAlign, RightAlign})
    row->addWidget(w);
  row->addStretch();
  connect(FontName, &QComboBox::activated, this, &TMainForm::FontNameChange);
  connect(FontSize, &QLineEdit::textEdited, this, &TMainForm::FontSizeChange);
  connect(UpDown1, &QSpinBox::valueChanged, this, [this](int v) {
    if (Updating) return;
    FontSize->setText(QString::number(v));
    FontSizeChange();
  });
}

void TMainForm::GetFontNames() {
  QStringList families = QFontDatabase::families();
  families.sort(Qt::CaseInsensitive);
  for (const QString& f : families) FontName->addItem(f, CharsetOf(f));  // the TCharsetObject
}

bool TMainForm::event(QEvent* e) {
  // The status line shows the hint of whatever the pointer is over.
  if (e->type() == QEvent::StatusTip) {
    StatusBar->showMessage(static_cast<QStatusTipEvent*>(e)->tip());
    return true;
  }
  return QDialog::event(e);
}

void TMainForm::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!event->spontaneous()) FormActivate();
}

void TMainForm::FormActivate() {
  for (std::span<const MenuEntry> menu : {std::span<const MenuEntry>(kFileMenu), std::span<const MenuEntry>(kEditMenu)})
    for (const MenuEntry& e : menu) {
      (this->*e.action)->setText(e.caption);
      (this->*e.action)->setStatusTip(e.hint);
    }
  MainMenu->actions()[0]->setText("&File");
  MainMenu->actions()[1]->setText("&Edit");
  SelectionChange();
  SetFileName("Untitled");
  RichEdit1->clear();
  RichEdit1->setReadOnly(false);
  RichEdit1->document()->setModified(false);
  speller_->SetPersonalList(ConfigFolder() + "scrivara-words.txt");
  highlighter_->rehighlight();
  StartBatch(study_);
}

void TMainForm::SetFileName(const std::string& name) {
  fileName_ = name;
  setWindowTitle(QString::fromStdString(FileNamePart(name)) + " - " + QApplication::applicationName());
}

void TMainForm::SelectionChange() {
  Updating = true;
  const QTextCharFormat f = RichEdit1->currentCharFormat();
  BoldButton->setChecked(f.fontWeight() >= QFont::Bold);
  ItalicButton->setChecked(f.fontItalic());
  UnderlineButton->setChecked(f.fontUnderline());
  const double points = f.fontPointSize() > 0 ? f.fontPointSize() : RichEdit1->font().pointSizeF();
  FontSize->setText(QString::number(static_cast<int>(points + 0.5)));
  UpDown1->setValue(std::clamp(static_cast<int>(points + 0.5), 1, kMaxFontSize));
  const QStringList families = f.fontFamilies().toStringList();
  const QString family = families.isEmpty() ? RichEdit1->font().family() : families.first();
  // A font the system lacks shows as the one drawn in its place.
  int index = FontName->findText(family);
  if (index < 0) index = FontName->findText(QFontInfo(QFont(family)).family());
  FontName->setCurrentIndex(index);
  const Qt::Alignment a = RichEdit1->alignment();
  RightAlign->setChecked(a & Qt::AlignRight);
  CenterAlign->setChecked(a & Qt::AlignHCenter);
  LeftAlign->setChecked(!(a & (Qt::AlignRight | Qt::AlignHCenter)));
  Updating = false;
}

bool TMainForm::CheckFileSave() {
  if (!RichEdit1->document()->isModified()) return true;
  switch (Dialogs().AskYesNoCancel(this, "Confirmation", "Save Changes?")) {
    case QMessageBox::Yes: return FileSaveClick();
    case QMessageBox::No: return true;
    default: return false;
  }
}

void TMainForm::FileNewClick() {
  if (!CheckFileSave()) return;
  SetFileName("Untitled");
  RichEdit1->clear();
  RichEdit1->setReadOnly(false);
  RichEdit1->document()->setModified(false);
}

void TMainForm::FileOpenClick() {
  if (!CheckFileSave()) return;
  bool readOnly = false;
  const QString chosen = Dialogs().OpenFileNameReadOnly(
      this, "Open", "Rich Text Files (*.RTF *.rtf);;Word Document (*.DOC *.doc);;Text Document (*.TXT *.txt)",
      readOnly);
  if (chosen.isEmpty()) return;
  OpenFile(chosen.toStdString());
  if (LowerExtension(chosen.toStdString()) != ".doc") RichEdit1->setReadOnly(readOnly);
}

void TMainForm::OpenFile(const std::string& path) {
  // By the file's content, whatever its name says.
  ReportFile file;
  std::string why;
  const bool read = ReadReportFile(path, file, why);
  if (read ? file.format == ReportFormat::Word : LowerExtension(path) == ".doc") {
    // The Word route: the text replaces the editor's, and counts as a change to an untitled report.
    RichEdit1->clear();
    if (read) RichEdit1->setPlainText(QString::fromStdString(file.text).replace("\r\n", "\n"));
    RichEdit1->document()->setModified(true);
    return;
  }
  RichEdit1->setReadOnly(false);
  if (!read) {
    Dialogs().ShowError(this, "Cannot open " + QString::fromStdString(path) + ": " + QString::fromStdString(why) + ".");
    return;
  }
  if (file.format == ReportFormat::Rtf) ToDocument(file.rich, *RichEdit1->document());
  else RichEdit1->setPlainText(QString::fromStdString(file.text).replace("\r\n", "\n"));
  RichEdit1->document()->clearUndoRedoStacks();
  SetFileName(path);
  RichEdit1->setFocus();
  RichEdit1->document()->setModified(false);
}

bool TMainForm::SaveTo(const std::string& path) {
  const std::string bytes = LowerExtension(path) == ".txt" ? RichEdit1->toPlainText().toStdString()
                                                           : WriteRtf(FromDocument(*RichEdit1->document()));
  if (!WriteWholeFile(path, bytes, "FileSave")) {
    Dialogs().ShowError(this, "Cannot save " + QString::fromStdString(path) + ". The text is kept.");
    return false;
  }
  return true;
}

bool TMainForm::FileSaveClick() {
  if (fileName_ == "Untitled") return FileSaveAsClick();
  if (!SaveTo(fileName_)) return false;
  RichEdit1->document()->setModified(false);
  return true;
}

bool TMainForm::FileSaveAsClick() {
  QString filter = "Rich Text Files (*.RTF *.rtf)";  // the default: rich text
  const QString typed = Dialogs().SaveFileName(this, "Save As", filter + ";;Text Files (*.TXT *.txt)", filter);
  const QString chosen = SaveName(this, typed, filter);
  if (chosen.isEmpty()) return false;
  if (!SaveTo(chosen.toStdString())) return false;
  SetFileName(chosen.toStdString());
  RichEdit1->document()->setModified(false);
  return true;
}

void TMainForm::FilePrintClick() {
  QPrinter printer(QPrinter::HighResolution);
  if (!Dialogs().SetUpPrinter(this, printer)) return;
  PrintTo(printer);
}

void TMainForm::FilePrintPreviewClick() {
  QPrinter printer(QPrinter::HighResolution);
  QPrintPreviewDialog preview(&printer, this);
  preview.setObjectName("PrintPreview");
  connect(&preview, &QPrintPreviewDialog::paintRequested, this, [this](QPrinter* p) { PrintTo(*p); });
  Dialogs().ShowModal(&preview);
}

void TMainForm::PrintTo(QPrinter& printer) {
  printer.setDocName("Reporte");
  printer.setFullPage(true);  // the rectangle below is measured from the paper's edge
  const QRect paper = printer.pageLayout().fullRectPixels(printer.resolution());
  const QRect printable = printer.pageLayout().paintRectPixels(printer.resolution());
  const int dpiX = printer.logicalDpiX(), dpiY = printer.logicalDpiY();
  const int offsetX = printable.left() - paper.left(), offsetY = printable.top() - paper.top();
  const QRect page(static_cast<int>(0.5 * dpiX) - offsetX, static_cast<int>(1.0 * dpiY) - offsetY,
                   paper.width() - static_cast<int>(0.5 * dpiX) - (static_cast<int>(0.5 * dpiX) - offsetX) - offsetX,
                   paper.height() - static_cast<int>(1.0 * dpiY) - (static_cast<int>(1.0 * dpiY) - offsetY) - offsetY);
  std::unique_ptr<QTextDocument> doc(RichEdit1->document()->clone());
  doc->documentLayout()->setPaintDevice(&printer);
  doc->setDocumentMargin(0);
  doc->setPageSize(page.size());
  QPainter painter(&printer);
  const int pages = std::max(1, doc->pageCount());
  for (int p = 0; p < pages; ++p) {
    if (p) printer.newPage();
    painter.save();
    // The rectangle is measured from the printable area's corner; the painter's origin is the paper's.
    painter.translate(page.left() + offsetX, page.top() + offsetY - p * page.height());
    doc->drawContents(&painter, QRectF(0, p * page.height(), page.width(), page.height()));
    painter.restore();
  }
}

void TMainForm::EditUndoClick() { RichEdit1->undo(); }
void TMainForm::EditCutClick() { RichEdit1->cut(); }
void TMainForm::EditCopyClick() { RichEdit1->copy(); }
void TMainForm::EditPasteClick() { RichEdit1->paste(); }

void TMainForm::SelectFont() {
  QFont font = RichEdit1->currentCharFormat().font();
  if (Dialogs().ChooseFont(this, font)) {
    QTextCharFormat f;
    f.setFont(font);
    MergeFormat(f);
  }
  RichEdit1->setFocus();
}

void TMainForm::MergeFormat(const QTextCharFormat& format) {
  RichEdit1->mergeCurrentCharFormat(format);
  SelectionChange();
}

void TMainForm::BoldButtonClick() {
  if (Updating) return;
  QTextCharFormat f;
  f.setFontWeight(BoldButton->isChecked() ? QFont::Bold : QFont::Normal);
  MergeFormat(f);
}

void TMainForm::ItalicButtonClick() {
  if (Updating) return;
  QTextCharFormat f;
  f.setFontItalic(ItalicButton->isChecked());
  MergeFormat(f);
}

void TMainForm::UnderlineButtonClick() {
  if (Updating) return;
  QTextCharFormat f;
  f.setFontUnderline(UnderlineButton->isChecked());
  MergeFormat(f);
}

void TMainForm::AlignClick(int code) {
  if (Updating) return;
  RichEdit1->setAlignment(code == 1 ? Qt::AlignRight : code == 2 ? Qt::AlignHCenter : Qt::AlignLeft);
  SelectionChange();
}

void TMainForm::FontNameChange() {
  if (Updating || FontName->currentIndex() < 0) return;
  QTextCharFormat f;
  f.setFontFamilies({FontName->currentText()});
  MergeFormat(f);
}

void TMainForm::FontSizeChange() {
  if (Updating) return;
  bool number = false;
  int size = FontSize->text().trimmed().toInt(&number);
  if (!number) size = 0;
  if (size == 0) return;
  if (size < 0 || size > kMaxFontSize) {
    Dialogs().ShowMessage(this, "The number must be between 1 and 1638.");
    FontSize->setText(size < 0 ? "1" : "1638");
    size = size < 0 ? 1 : kMaxFontSize;
  }
  QTextCharFormat f;
  f.setFontPointSize(size);
  RichEdit1->mergeCurrentCharFormat(f);
}

void TMainForm::Button1Click() {
  if (work_.Busy()) return;  // one Send at a time, however fast the clicks come
  // The report's lines as the SR holds them: paragraphs and line breaks as CR LF.
  QString text = RichEdit1->toPlainText();
  text.replace(QChar(0x2028), QChar('\n'));
  text.replace("\n", "\r\n");
  changedDuringSend_ = false;
  auto sent = std::make_shared<std::vector<BatchObject>>();
  const AssociationTarget target = PacsTarget(cfg_, kSendTimeout);
  work_.Start(
      BackgroundWork::State::Sending,
      [this, report = text.toStdString(), sent, target](const BackgroundWork::Run& run) {
        const std::string path = BuildTextReportObject(report, study_, model_.Batch(), InstanceCounter);
        if (path.empty()) return;  // logged
        BatchObject o;
        o.path = path;
        o.document = "Report " + std::to_string(InstanceCounter);
        sent->push_back(o);
        SendFromRun(run, *sent, target, [](size_t, const BatchObject&) {});
      },
      [this, sent] {
        if (sent->empty()) {
          Dialogs().ShowError(this, "The report could not be made a DICOM object, so nothing was sent. "
                                    "See the log file.");
          return;
        }
        model_.Add(sent->front());
        ShowSendResult(this, *sent);
        // Only a report the PACS accepted is safe: after a failure, closing still asks to save it;
        // text typed during the send is not in the report and still counts as a change.
        if (sent->front().state == BatchObject::State::Accepted && !changedDuringSend_)
          RichEdit1->document()->setModified(false);
      });
}

bool TMainForm::MayClose() { return CheckFileSave(); }  // FormCloseQuery: Cancel keeps the editor open

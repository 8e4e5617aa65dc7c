#pragma once
// The one layer through which the forms show message boxes, file dialogs and modal forms, so that
// tests can answer them without a person.
#include <QString>
#include <QStringList>

class QDialog;
class QFont;
class QPrinter;
class QWidget;

class DialogLayer {
 public:
  virtual ~DialogLayer() = default;
  // A plain message box with an OK button.
  virtual void ShowMessage(QWidget* parent, const QString& text);
  // A message box for a failure.
  virtual void ShowError(QWidget* parent, const QString& text);
  // The open and save file dialogs; "" when cancelled.
  virtual QString OpenFileName(QWidget* parent, const QString& caption, const QString& filter);
  // The open dialog choosing any number of files; empty when cancelled.
  virtual QStringList OpenFileNames(QWidget* parent, const QString& caption, const QString& filter);
  // The save dialog; `selectedFilter` is the filter it starts on and the one chosen. It does not ask
  // about an existing file: the caller does, once the name is complete (SaveName).
  virtual QString SaveFileName(QWidget* parent, const QString& caption, const QString& filter,
                               QString& selectedFilter);
  // The open dialog with an "Open as read-only" option, whose state comes back in readOnly.
  virtual QString OpenFileNameReadOnly(QWidget* parent, const QString& caption, const QString& filter,
                                       bool& readOnly);
  // A message box whose "Show Details..." button shows `details` (one line per file, say); an
  // error box when `error`.
  virtual void ShowDetails(QWidget* parent, const QString& text, const QString& details, bool error);
  // A Yes / No question; true for Yes.
  virtual bool AskYesNo(QWidget* parent, const QString& title, const QString& text);
  // A Yes / No / Cancel question with a question icon: QMessageBox::Yes, No or Cancel.
  virtual int AskYesNoCancel(QWidget* parent, const QString& title, const QString& text);
  // The font dialog preset with `font`; true (font changed) when confirmed.
  virtual bool ChooseFont(QWidget* parent, QFont& font);
  // The print dialog for `printer`; true when confirmed.
  virtual bool SetUpPrinter(QWidget* parent, QPrinter& printer);
  // Shows a form modally and returns its result (QDialog::Accepted or Rejected).
  virtual int ShowModal(QDialog* dialog);
};

// A name from the save dialog made complete: without an extension it gets the first one of the
// chosen filter ("Text Files (*.TXT *.txt)" gives ".txt"). Then, when that file exists, the
// operator is asked whether to replace it; "" when the answer is No (or nothing was chosen).
QString SaveName(QWidget* parent, const QString& chosen, const QString& selectedFilter);

// The layer in use: the real dialogs unless a test installed its own.
DialogLayer& Dialogs();
// Installs a layer (nullptr restores the real dialogs); returns the previous one. The caller keeps
// ownership.
DialogLayer* SetDialogLayer(DialogLayer* layer);

#include "edge/dialogs.h"

#include <QApplication>
#include <QCheckBox>
#include <QGridLayout>
#include <QDialog>
#include <QFileDialog>
#include <QFileInfo>
#include <QRegularExpression>
#include <QFontDialog>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPrinter>

namespace {
DialogLayer g_real;
DialogLayer* g_layer = &g_real;
// The program's name on its message boxes (the windows carry their own captions).
const QString kTitle = QStringLiteral("Scrivara");
}  // namespace

void DialogLayer::ShowMessage(QWidget* parent, const QString& text) {
  QMessageBox::information(parent, kTitle, text);
}

void DialogLayer::ShowError(QWidget* parent, const QString& text) {
  QMessageBox::critical(parent, kTitle, text);
}

QString DialogLayer::OpenFileName(QWidget* parent, const QString& caption, const QString& filter) {
  return QFileDialog::getOpenFileName(parent, caption, QString(), filter);
}

QStringList DialogLayer::OpenFileNames(QWidget* parent, const QString& caption, const QString& filter) {
  return QFileDialog::getOpenFileNames(parent, caption, QString(), filter);
}

QString DialogLayer::OpenFileNameReadOnly(QWidget* parent, const QString& caption, const QString& filter,
                                          bool& readOnly) {
  // Qt's own dialog (the desktop's has no such option) with the check box added below its fields.
  QFileDialog dialog(parent, caption, QString(), filter);
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setFileMode(QFileDialog::ExistingFile);
  auto* option = new QCheckBox(QObject::tr("Open as read-only"), &dialog);
  if (auto* grid = qobject_cast<QGridLayout*>(dialog.layout())) grid->addWidget(option, grid->rowCount(), 0, 1, -1);
  readOnly = false;
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return QString();
  readOnly = option->isChecked();
  return dialog.selectedFiles().first();
}

QString DialogLayer::SaveFileName(QWidget* parent, const QString& caption, const QString& filter,
                                  QString& selectedFilter) {
  return QFileDialog::getSaveFileName(parent, caption, QString(), filter, &selectedFilter,
                                      QFileDialog::DontConfirmOverwrite);
}

QString SaveName(QWidget* parent, const QString& chosen, const QString& selectedFilter) {
  if (chosen.isEmpty()) return chosen;
  QString path = chosen;
  if (QFileInfo(path).suffix().isEmpty()) {
    static const QRegularExpression kPattern(R"(\*\.(\w+))");
    const QRegularExpressionMatch m = kPattern.match(selectedFilter);
    if (m.hasMatch()) path += "." + m.captured(1).toLower();
  }
  if (QFileInfo::exists(path) &&
      !Dialogs().AskYesNo(parent, "Confirm Save As",
                          QFileInfo(path).fileName() + " already exists.\nDo you want to replace it?"))
    return QString();
  return path;
}

void DialogLayer::ShowDetails(QWidget* parent, const QString& text, const QString& details, bool error) {
  QMessageBox box(error ? QMessageBox::Critical : QMessageBox::Information, kTitle, text, QMessageBox::Ok, parent);
  box.setDetailedText(details);
  box.exec();
}

bool DialogLayer::AskYesNo(QWidget* parent, const QString& title, const QString& text) {
  return QMessageBox::question(parent, title, text, QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes) ==
         QMessageBox::Yes;
}

int DialogLayer::AskYesNoCancel(QWidget* parent, const QString& title, const QString& text) {
  return QMessageBox::question(parent, title, text, QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel,
                               QMessageBox::Yes);
}

bool DialogLayer::ChooseFont(QWidget* parent, QFont& font) {
  bool ok = false;
  const QFont chosen = QFontDialog::getFont(&ok, font, parent);
  if (ok) font = chosen;
  return ok;
}

bool DialogLayer::SetUpPrinter(QWidget* parent, QPrinter& printer) {
  QPrintDialog dialog(&printer, parent);
  return dialog.exec() == QDialog::Accepted;
}

int DialogLayer::ShowModal(QDialog* dialog) { return dialog->exec(); }

DialogLayer& Dialogs() { return *g_layer; }

DialogLayer* SetDialogLayer(DialogLayer* layer) {
  DialogLayer* old = g_layer == &g_real ? nullptr : g_layer;
  g_layer = layer ? layer : &g_real;
  return old;
}

#include "app/dialogs.h"

#include <QApplication>
#include <QDialog>
#include <QFileDialog>
#include <QMessageBox>

namespace {
DialogLayer g_real;
DialogLayer* g_layer = &g_real;
}  // namespace

void DialogLayer::ShowMessage(QWidget* parent, const QString& text) {
  QMessageBox::information(parent, QApplication::applicationDisplayName(), text);
}

void DialogLayer::ShowError(QWidget* parent, const QString& text) {
  QMessageBox::critical(parent, QApplication::applicationDisplayName(), text);
}

QString DialogLayer::OpenFileName(QWidget* parent, const QString& caption, const QString& filter) {
  return QFileDialog::getOpenFileName(parent, caption, QString(), filter);
}

QString DialogLayer::SaveFileName(QWidget* parent, const QString& caption, const QString& filter) {
  return QFileDialog::getSaveFileName(parent, caption, QString(), filter);
}

int DialogLayer::ShowModal(QDialog* dialog) { return dialog->exec(); }

DialogLayer& Dialogs() { return *g_layer; }

DialogLayer* SetDialogLayer(DialogLayer* layer) {
  DialogLayer* old = g_layer == &g_real ? nullptr : g_layer;
  g_layer = layer ? layer : &g_real;
  return old;
}

#pragma once
// Layout pieces the forms share.
#include <QHBoxLayout>
#include <QIcon>
#include <QStandardPaths>
#include <QStringList>
#include <QWidget>
#include <initializer_list>

// The row of a form's closing buttons: right-aligned, in the order given.
inline QHBoxLayout* ButtonRow(std::initializer_list<QWidget*> buttons) {
  auto* row = new QHBoxLayout;  // owned by the layout it is added to
  row->addStretch();
  for (QWidget* b : buttons) row->addWidget(b);
  return row;
}

// An icon of the desktop's theme by its standard name ("document-open"), or its symbolic form
// where the theme has only that; `fallback` when neither is there. Without a desktop theme the
// icons come from Adwaita.
inline QIcon ThemeIcon(const char* name, const QIcon& fallback = QIcon()) {
  static const bool ready = [] {
    QStringList paths = QIcon::themeSearchPaths();
    for (const QString& data : QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation))
      if (!paths.contains(data + "/icons")) paths << data + "/icons";
    QIcon::setThemeSearchPaths(paths);
    if (QIcon::fallbackThemeName().isEmpty() || QIcon::fallbackThemeName() == "hicolor")
      QIcon::setFallbackThemeName("Adwaita");
    return true;
  }();
  (void)ready;
  const QString n = QString::fromLatin1(name);
  if (QIcon::hasThemeIcon(n)) return QIcon::fromTheme(n);
  return QIcon::fromTheme(n + "-symbolic", fallback);
}

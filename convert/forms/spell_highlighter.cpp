#include "convert/forms/spell_highlighter.h"

#include <QRegularExpression>

#include "convert/spelling.h"

SpellHighlighter::SpellHighlighter(QTextDocument* document, const SpellChecker& checker)
    : QSyntaxHighlighter(document), checker_(checker) {}

QList<QPair<int, int>> SpellHighlighter::Words(const QString& text) {
  // Letters, with an apostrophe or a hyphen inside; anything with a digit is not checked.
  static const QRegularExpression word(QStringLiteral("[\\p{L}\\d]+(?:['\\x{2019}-][\\p{L}\\d]+)*"));
  QList<QPair<int, int>> words;
  for (auto it = word.globalMatch(text); it.hasNext();) {
    const QRegularExpressionMatch m = it.next();
    if (!m.captured().contains(QRegularExpression(QStringLiteral("\\d")))) words.append({m.capturedStart(), m.capturedLength()});
  }
  return words;
}

void SpellHighlighter::highlightBlock(const QString& text) {
  if (!checker_.Loaded()) return;
  QTextCharFormat misspelt;
  misspelt.setUnderlineStyle(QTextCharFormat::SpellCheckUnderline);
  misspelt.setUnderlineColor(Qt::red);
  for (const auto& [start, length] : Words(text))
    if (!checker_.Correct(text.mid(start, length).toStdString())) setFormat(start, length, misspelt);
}

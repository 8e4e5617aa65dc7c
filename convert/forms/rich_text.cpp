#include "convert/forms/rich_text.h"

#include <QTextBlock>
#include <QTextCursor>

#include <cmath>

namespace {

constexpr QChar kLineSeparator(0x2028);

Qt::Alignment ToQt(Alignment a) {
  switch (a) {
    case Alignment::Right: return Qt::AlignRight;
    case Alignment::Center: return Qt::AlignHCenter;
    case Alignment::Justify: return Qt::AlignJustify;
    case Alignment::Left: break;
  }
  return Qt::AlignLeft;
}

Alignment FromQt(Qt::Alignment a) {
  if (a & Qt::AlignRight) return Alignment::Right;
  if (a & Qt::AlignHCenter) return Alignment::Center;
  if (a & Qt::AlignJustify) return Alignment::Justify;
  return Alignment::Left;
}

}  // namespace

void ToDocument(const StyledText& text, QTextDocument& document) {
  document.clear();
  QTextCursor cursor(&document);
  for (size_t p = 0; p < text.paragraphs.size(); ++p) {
    const Paragraph& paragraph = text.paragraphs[p];
    QTextBlockFormat block;
    block.setAlignment(ToQt(paragraph.alignment));
    if (p == 0)
      cursor.setBlockFormat(block);
    else
      cursor.insertBlock(block);
    for (const TextRun& run : paragraph.runs) {
      QTextCharFormat f;
      if (!run.font.empty()) f.setFontFamilies({QString::fromStdString(run.font)});
      f.setFontPointSize(run.halfPoints / 2.0);
      f.setFontWeight(run.bold ? QFont::Bold : QFont::Normal);
      f.setFontItalic(run.italic);
      f.setFontUnderline(run.underline);
      if (run.coloured) f.setForeground(QColor(QRgb(run.rgb)));
      QString s = QString::fromStdString(run.text);
      s.replace(QChar('\n'), kLineSeparator);
      cursor.insertText(s, f);
    }
  }
}

StyledText FromDocument(const QTextDocument& document) {
  StyledText out;
  const QString defaultFamily = document.defaultFont().family();
  for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
    out.paragraphs.emplace_back();
    out.paragraphs.back().alignment = FromQt(block.blockFormat().alignment());
    for (auto it = block.begin(); !it.atEnd(); ++it) {
      const QTextFragment fragment = it.fragment();
      if (!fragment.isValid()) continue;
      const QTextCharFormat f = fragment.charFormat();
      TextRun run;
      QString s = fragment.text();
      s.replace(kLineSeparator, QChar('\n'));
      run.text = s.toStdString();
      const QStringList families = f.fontFamilies().toStringList();
      if (!families.isEmpty() && families.first() != defaultFamily) run.font = families.first().toStdString();
      const double points = f.fontPointSize();
      run.halfPoints = points > 0 ? static_cast<int>(std::lround(points * 2)) : 24;
      run.bold = f.fontWeight() >= QFont::Bold;
      run.italic = f.fontItalic();
      run.underline = f.fontUnderline();
      if (f.foreground().style() != Qt::NoBrush) {
        run.coloured = true;
        run.rgb = f.foreground().color().rgb() & 0xFFFFFFu;
      }
      out.Append(std::move(run));
    }
  }
  // A document's one empty block is no paragraph at all.
  if (out.paragraphs.size() == 1 && out.paragraphs[0].runs.empty()) out.paragraphs.clear();
  return out;
}

#include "viewers/TextHighlighter.h"

#include <algorithm>

#include <QGuiApplication>
#include <QPalette>
#include <QRegularExpression>
#include <QSyntaxHighlighter>
#include <QTextCharFormat>

#include "archive/EntryTypes.h"

namespace tarn::viewers {

TextSyntax SyntaxOf(const QString& name) {
  switch (TextKindOf(name.toStdString())) {
    case TextKind::Config: return TextSyntax::Config;
    case TextKind::QuakeC: return TextSyntax::QuakeC;
    case TextKind::Entities: return TextSyntax::Entities;
    case TextKind::Plain: break;
  }
  return TextSyntax::Plain;
}

namespace {

// A colour chosen for dark text on a light page, made readable on the page the palette gives:
// on a dark one its lightness is mirrored (a dark green comment becomes a light green one),
// keeping the hue and saturation that tell the kinds apart.
QTextCharFormat Coloured(const QColor& onLight, bool bold = false) {
  const QColor page = QGuiApplication::palette().color(QPalette::Base);
  QColor colour = onLight;
  if (page.lightnessF() < 0.5) {
    const QColor hsl = onLight.toHsl();
    colour = QColor::fromHslF(hsl.hslHueF(), hsl.hslSaturationF(), std::max(0.6f, 1.0f - hsl.lightnessF()));
  }
  QTextCharFormat f;
  f.setForeground(colour);
  if (bold) f.setFontWeight(QFont::Bold);
  return f;
}

class CHighlighter : public QSyntaxHighlighter {
 public:
  CHighlighter(QTextDocument* document, TextSyntax syntax) : QSyntaxHighlighter(document), m_syntax(syntax) {}

 protected:
  void highlightBlock(const QString& text) override {
    const QTextCharFormat& comment = m_comment;
    const QTextCharFormat& string = m_string;
    const QTextCharFormat& keyword = m_keyword;
    const QTextCharFormat& number = m_number;
    const QTextCharFormat& key = m_key;
    static const QRegularExpression numbers(R"(\b-?\d+(\.\d+)?\b)");
    static const QRegularExpression strings(R"("[^"]*"?)");
    static const QRegularExpression qcKeywords(
        R"(\b(void|float|vector|entity|string|if|else|while|do|for|return|local|break|continue|const|var|nosave|)"
        R"(self|other|world|time)\b)");
    static const QRegularExpression commandStart(R"((^|;)\s*([A-Za-z_+\-][\w+\-]*))");

    const auto apply = [&](const QRegularExpression& re, const QTextCharFormat& format, int group = 0) {
      for (auto it = re.globalMatch(text); it.hasNext();) {
        const auto m = it.next();
        setFormat(static_cast<int>(m.capturedStart(group)), static_cast<int>(m.capturedLength(group)), format);
      }
    };
    apply(numbers, number);
    switch (m_syntax) {
      case TextSyntax::Config: apply(commandStart, keyword, 2); break;
      case TextSyntax::QuakeC: apply(qcKeywords, keyword); break;
      case TextSyntax::Entities: {
        // A line's first string is the key, the rest its value.
        static const QRegularExpression pair(R"(^\s*("[^"]*")\s*("[^"]*"?)?)");
        static const QRegularExpression braces(R"([{}])");
        apply(braces, keyword);
        apply(strings, string);
        apply(pair, key, 1);
        break;
      }
      case TextSyntax::Plain: return;
    }
    if (m_syntax != TextSyntax::Entities) apply(strings, string);

    // Comments last, over what they hold; QuakeC's /* */ may run across lines.
    int start = 0;
    if (m_syntax == TextSyntax::QuakeC && previousBlockState() == 1) {
      const int end = static_cast<int>(text.indexOf("*/"));
      if (end < 0) {
        setFormat(0, static_cast<int>(text.size()), comment);
        setCurrentBlockState(1);
        return;
      }
      setFormat(0, end + 2, comment);
      start = end + 2;
    }
    setCurrentBlockState(0);
    for (int i = start; i + 1 < text.size(); ++i) {
      if (text[i] == '"') {  // no comment starts inside a string
        const auto close = text.indexOf('"', i + 1);
        if (close < 0) break;
        i = static_cast<int>(close);
        continue;
      }
      if (text[i] == '/' && text[i + 1] == '/') {
        setFormat(i, static_cast<int>(text.size()) - i, comment);
        break;
      }
      if (m_syntax == TextSyntax::QuakeC && text[i] == '/' && text[i + 1] == '*') {
        const auto end = text.indexOf("*/", i + 2);
        if (end < 0) {
          setFormat(i, static_cast<int>(text.size()) - i, comment);
          setCurrentBlockState(1);
          break;
        }
        setFormat(i, static_cast<int>(end) + 2 - i, comment);
        i = static_cast<int>(end) + 1;
      }
    }
  }

 private:
  // Taken from the palette when the text is shown, so that a dark theme gets its own.
  const QTextCharFormat m_comment = Coloured(QColor(0x6a, 0x8a, 0x35));
  const QTextCharFormat m_string = Coloured(QColor(0xa3, 0x15, 0x15));
  const QTextCharFormat m_keyword = Coloured(QColor(0x00, 0x30, 0xb0), true);
  const QTextCharFormat m_number = Coloured(QColor(0x09, 0x86, 0x58));
  const QTextCharFormat m_key = Coloured(QColor(0x00, 0x50, 0x90), true);
  TextSyntax m_syntax;
};

}  // namespace

void Highlight(QTextDocument* document, TextSyntax syntax) {
  if (syntax != TextSyntax::Plain) new CHighlighter(document, syntax);
}

}  // namespace tarn::viewers

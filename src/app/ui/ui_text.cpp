#include "app/ui/ui_text.h"

#include "platform/name_text.h"

#include <QByteArray>
#include <QPalette>
#include <QWidget>

namespace corvalin {

QString displayName(std::string_view nameOrPath) {
    return toDisplay(legibleName(nameOrPath));
}

QString displayName(const std::filesystem::path& path) {
    return displayName(std::string_view(path.native()));
}

QString toDisplay(const std::string& utf8) {
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

std::filesystem::path fromUserText(const QString& text) {
    const QByteArray bytes = text.toUtf8();
    return std::filesystem::path(std::string(bytes.constData(), static_cast<std::size_t>(bytes.size())));
}

static QFont japaneseFont(const QStringList& families, double pointSize, bool bold) {
    QFont font;
    font.setFamilies(families);
    font.setPointSizeF(pointSize);
    font.setBold(bold);
    return font;
}

QFont gothicFont(double pointSize, bool bold) {
    return japaneseFont({QStringLiteral("ＭＳ Ｐゴシック"), QStringLiteral("MS PGothic"),
                         QStringLiteral("Noto Sans CJK JP"), QStringLiteral("IPAPGothic"),
                         QStringLiteral("IPAGothic"), QStringLiteral("VL PGothic")},
                        pointSize, bold);
}

QFont minchoFont(double pointSize, bool bold) {
    return japaneseFont({QStringLiteral("ＭＳ Ｐ明朝"), QStringLiteral("MS PMincho"),
                         QStringLiteral("Noto Serif CJK JP"), QStringLiteral("IPAPMincho"),
                         QStringLiteral("IPAMincho")},
                        pointSize, bold);
}

void setBackground(QWidget* widget, const QColor& colour) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, colour);
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}

// The disabled colours stay the style's grey, so that a disabled label looks greyed out.
void setTextColour(QWidget* widget, const QColor& colour) {
    QPalette palette = widget->palette();
    for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
        palette.setColor(group, QPalette::WindowText, colour);
        palette.setColor(group, QPalette::Text, colour);
    }
    widget->setPalette(palette);
}

} // namespace corvalin

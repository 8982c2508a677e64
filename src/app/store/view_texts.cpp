#include "store/view_texts.h"

#include "store/qt_text.h"

#include "formats/format.h"

#include <QVariantMap>

#include <cmath>

namespace lumatra {
namespace {

QString filesText(int count) {
    return countText(count, "файл", "файла", "файлов");
}

QString namesText(const QStringList& names) {
    QStringList shown = names.mid(0, 3);
    if (names.size() > 3) shown.append(QStringLiteral("…"));
    return QStringLiteral(" (") + shown.join(QStringLiteral(", ")) + QStringLiteral(")");
}

std::optional<Kind> kindNamed(const QString& name) {
    return kindFromRaw(name.toStdString());
}

std::optional<Format> formatNamed(const QString& name) {
    return formatFromRaw(name.toStdString());
}

} // namespace

QString countText(int count, const char* one, const char* few, const char* many) {
    const int tens = std::abs(count) % 100;
    const int ones = std::abs(count) % 10;
    const char* word = (tens >= 11 && tens <= 14) ? many
                       : ones == 1                ? one
                       : (ones >= 2 && ones <= 4) ? few
                                                  : many;
    return QString::number(count) + QLatin1Char(' ') + QString::fromUtf8(word);
}

QString timeLeftText(double seconds) {
    if (!std::isfinite(seconds) || seconds < 10) return QStringLiteral("несколько секунд");
    if (seconds < 60)
        return QStringLiteral("~") + QString::number(static_cast<int>(std::ceil(seconds / 5)) * 5) +
               QStringLiteral(" с");
    return QStringLiteral("~") +
           QString::number(static_cast<long long>(std::lround(seconds / 60))) +
           QStringLiteral(" мин");
}

QString skippedText(const QStringList& unknown, int twice, const QStringList& missing) {
    QStringList parts;
    const auto lead = [&] { return parts.isEmpty() ? QStringLiteral("Пропущено: ") : QString(); };
    if (!missing.isEmpty()) {
        parts.append(lead() + filesText(static_cast<int>(missing.size())) +
                     QStringLiteral(" — не найден") +
                     (missing.size() > 1 ? QStringLiteral("о") : QString()) + namesText(missing));
    }
    if (!unknown.isEmpty()) {
        parts.append(lead() + filesText(static_cast<int>(unknown.size())) +
                     QStringLiteral(" — такие файлы Lumatra не конвертирует") + namesText(unknown));
    }
    if (twice > 0) parts.append(lead() + filesText(twice) + QStringLiteral(" уже в списке"));
    return parts.join(QStringLiteral("; ")) + QStringLiteral(".");
}

QString kindTitle(const QString& kind) {
    const auto parsed = kindNamed(kind);
    return parsed ? qtText(title(*parsed)) : QString();
}

QString kindSymbol(const QString& kind) {
    const auto parsed = kindNamed(kind);
    return parsed ? qtText(symbol(*parsed)) : QString();
}

QString formatTitle(const QString& format) {
    const auto parsed = formatNamed(format);
    return parsed ? qtText(title(*parsed)) : QString();
}

QString formatDetail(const QString& format) {
    const auto parsed = formatNamed(format);
    return parsed ? qtText(detail(*parsed)) : QString();
}

QVariantList qualityMenu() {
    QVariantList list;
    for (Quality quality : allQualities)
        list.append(QVariantMap{{QStringLiteral("quality"), qtText(rawValue(quality))},
                                {QStringLiteral("title"), qtText(title(quality))}});
    return list;
}

} // namespace lumatra

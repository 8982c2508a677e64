#pragma once
// The texts the window shows that are made in the store: the catalog's names of kinds,
// formats and qualities by their raw values, counts with their Russian nouns, the time
// left and the line of skipped files.

#include <QString>
#include <QStringList>
#include <QVariantList>

namespace lumatra {

/// The notice after adding: how many files were skipped and why ("Пропущено: 2 файла —
/// такие файлы Lumatra не конвертирует (a.xyz, b.exe)." and/or "… уже в списке").
/// `unknown` are the names of files of no kind; `twice` counts files already active.
/// `missing` are the names of files that were not there ("… — не найден (a.wav)").
QString skippedText(const QStringList& unknown, int twice, const QStringList& missing = {});

/// A count with its noun in the right Russian form: countText(2, "ошибка", "ошибки",
/// "ошибок") is "2 ошибки"; 1, 21 take the first form, 2–4, 22–24 the second, the rest
/// (11–14 among them) the third.
QString countText(int count, const char* one, const char* few, const char* many);

/// Time left as the batch line says it: "несколько секунд", "~25 с", "~3 мин".
QString timeLeftText(double seconds);

/// The catalog's texts by raw name ("audio", "mp3"); "" for a name of nothing.
QString kindTitle(const QString& kind);
QString kindSymbol(const QString& kind);
QString formatTitle(const QString& format);
QString formatDetail(const QString& format);

/// The quality menu: [{quality, title}] in menu order ("Максимум", "Баланс", "Компактно").
QVariantList qualityMenu();

} // namespace lumatra

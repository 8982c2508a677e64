#include "views/folder_model.h"

#include "formats/byte_count.h"

#include <sys/stat.h>

#include <QCollator>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QVariantMap>

#include <algorithm>
#include <dirent.h>

namespace lumatra {

namespace {

// The order the store gives a folder's files: the locale's, with numbers by value.
QCollator fileManagerOrder() {
    QLocale locale;
    if (locale.language() == QLocale::C) locale = QLocale(QLocale::English, QLocale::UnitedStates);
    QCollator collator(locale);
    collator.setNumericMode(true);
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    return collator;
}

// Closes a directory stream when it goes.
class DirectoryStream {
public:
    explicit DirectoryStream(const QByteArray& path) : m_dir(::opendir(path.constData())) {}
    DirectoryStream(const DirectoryStream&) = delete;
    DirectoryStream& operator=(const DirectoryStream&) = delete;
    ~DirectoryStream() {
        if (m_dir) ::closedir(m_dir);
    }
    DIR* get() const { return m_dir; }

private:
    DIR* m_dir;
};

} // namespace

FolderModel::FolderModel(QObject* parent) : QAbstractListModel(parent) {}

int FolderModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : count();
}

QVariant FolderModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() < 0 || index.row() >= count()) return {};
    const Entry& entry = m_entries[static_cast<std::size_t>(index.row())];
    switch (role) {
    case NameRole:
        return entry.name;
    case PathRole:
        return entry.path;
    case UrlRole:
        return QUrl::fromLocalFile(entry.path);
    case IsFolderRole:
        return entry.isFolder;
    case DetailRole:
        return entry.detail;
    default:
        return {};
    }
}

QHash<int, QByteArray> FolderModel::roleNames() const {
    return {{NameRole, "name"},
            {PathRole, "path"},
            {UrlRole, "url"},
            {IsFolderRole, "isFolder"},
            {DetailRole, "detail"}};
}

void FolderModel::setFolder(const QString& folder) {
    const QString clean = QDir::cleanPath(absolute(folder));
    if (clean == m_folder) return;
    m_folder = clean;
    emit folderChanged();
    refresh();
}

void FolderModel::setFoldersOnly(bool only) {
    if (only == m_foldersOnly) return;
    m_foldersOnly = only;
    emit foldersOnlyChanged();
    refresh();
}

bool FolderModel::canGoUp() const {
    return !m_folder.isEmpty() && m_folder != QLatin1String("/");
}

QVariantList FolderModel::crumbs() const {
    QVariantList list;
    if (m_folder.isEmpty()) return list;
    list.append(QVariantMap{{QStringLiteral("name"), QStringLiteral("/")},
                            {QStringLiteral("path"), QStringLiteral("/")}});
    QString path;
    for (const QString& part : m_folder.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        path += QLatin1Char('/') + part;
        list.append(QVariantMap{{QStringLiteral("name"), part}, {QStringLiteral("path"), path}});
    }
    return list;
}

QString FolderModel::home() {
    return QDir::homePath();
}

void FolderModel::goUp() {
    if (!canGoUp()) return;
    setFolder(QFileInfo(m_folder).absolutePath());
}

void FolderModel::refresh() {
    beginResetModel();
    m_entries.clear();
    const QByteArray folder = QFile::encodeName(m_folder);
    DirectoryStream stream(folder);
    if (stream.get()) {
        while (const dirent* item = ::readdir(stream.get())) {
            if (m_entries.size() >= static_cast<std::size_t>(maxEntries)) break;
            const QByteArray name(item->d_name);
            if (name.isEmpty() || name.startsWith('.')) continue;
            const QByteArray path = folder.endsWith('/') ? folder + name : folder + '/' + name;
            // Links are shown as what they point to; broken ones are left out.
            struct stat info {};
            if (::stat(path.constData(), &info) != 0) continue;
            Entry entry;
            entry.name = QFile::decodeName(name);
            entry.path = QFile::decodeName(path);
            entry.isFolder = S_ISDIR(info.st_mode);
            if (m_foldersOnly && !entry.isFolder) continue;
            entry.detail = entry.isFolder ? QStringLiteral("Папка")
                                          : QString::fromStdString(formatByteCount(info.st_size));
            m_entries.push_back(std::move(entry));
        }
    }
    const QCollator collator = fileManagerOrder();
    std::sort(m_entries.begin(), m_entries.end(), [&](const Entry& a, const Entry& b) {
        if (a.isFolder != b.isFolder) return a.isFolder;
        const int order = collator.compare(a.name, b.name);
        return order != 0 ? order < 0 : a.name < b.name;
    });
    endResetModel();
    emit countChanged();
}

QString FolderModel::pathAt(int row) const {
    if (row < 0 || row >= count()) return {};
    return m_entries[static_cast<std::size_t>(row)].path;
}

bool FolderModel::isFolderAt(int row) const {
    return row >= 0 && row < count() && m_entries[static_cast<std::size_t>(row)].isFolder;
}

QList<QUrl> FolderModel::urlsOf(const QList<int>& rows) const {
    QList<int> sorted = rows;
    std::sort(sorted.begin(), sorted.end());
    sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());
    QList<QUrl> urls;
    for (int row : sorted)
        if (row >= 0 && row < count())
            urls.append(QUrl::fromLocalFile(m_entries[static_cast<std::size_t>(row)].path));
    return urls;
}

QList<QUrl> FolderModel::typedUrls(const QString& text) const {
    QStringList names;
    if (text.contains(QLatin1Char('"'))) {
        // "a.wav" "b.wav": every quoted part is one name.
        const QStringList parts = text.split(QLatin1Char('"'));
        for (int i = 1; i < parts.size(); i += 2)
            names.append(parts[i]);
    } else {
        names = text.split(QLatin1Char('\n'));
    }
    QList<QUrl> urls;
    for (QString name : names) {
        name = name.trimmed();
        if (name.isEmpty()) continue;
        const QString path = QDir::cleanPath(absolute(name));
        if (QFileInfo::exists(path)) urls.append(QUrl::fromLocalFile(path));
    }
    return urls;
}

QString FolderModel::folderAt(const QString& path) const {
    const QString full = QDir::cleanPath(absolute(path.trimmed()));
    return QFileInfo(full).isDir() ? full : QString();
}

int FolderModel::makeFolderNamed(const QString& name) {
    const QString plain = name.trimmed();
    if (m_folder.isEmpty() || plain.isEmpty() || plain.contains(QLatin1Char('/')) ||
        plain == QLatin1String(".") || plain == QLatin1String(".."))
        return -1;
    // mkdir refuses an existing name: nothing already there is taken over.
    if (::mkdir(QFile::encodeName(m_folder + QLatin1Char('/') + plain).constData(), 0777) != 0)
        return -1;
    refresh();
    return rowNamed(plain);
}

QString FolderModel::createFolder(const QString& path) {
    if (path.trimmed().isEmpty()) return {};
    const QString full = absolutePath(path);
    if (!QDir().mkpath(full) || !QFileInfo(full).isDir()) return {};
    return full;
}

QString FolderModel::absolutePath(const QString& path) const {
    return QDir::cleanPath(absolute(path.trimmed()));
}

int FolderModel::rowNamed(const QString& name) const {
    for (std::size_t row = 0; row < m_entries.size(); ++row)
        if (m_entries[row].name == name) return static_cast<int>(row);
    return -1;
}

QString FolderModel::absolute(const QString& path) const {
    QString expanded = path;
    if (expanded == QLatin1String("~") || expanded.startsWith(QLatin1String("~/")))
        expanded = QDir::homePath() + expanded.mid(1);
    if (QDir::isAbsolutePath(expanded)) return expanded;
    return (m_folder.isEmpty() ? QDir::currentPath() : m_folder) + QLatin1Char('/') + expanded;
}

} // namespace lumatra

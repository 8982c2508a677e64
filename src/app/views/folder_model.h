#pragma once
// The listing behind the window's file panels: one folder's visible entries, folders
// first, names in the order a file manager shows them, sizes in Russian.

#include <QAbstractListModel>
#include <QStringList>
#include <QUrl>
#include <QtQml/qqmlregistration.h>

#include <vector>

namespace lumatra {

/// A QML type `FolderModel` of module Lumatra. Main thread. Listing never follows the
/// entries' contents: only names and `stat` data are read, at most `maxEntries` of them.
class FolderModel : public QAbstractListModel {
    Q_OBJECT
    QML_ELEMENT

    /// The folder shown, an absolute local path; set it to move. A folder that cannot be
    /// read shows no entries.
    Q_PROPERTY(QString folder READ folder WRITE setFolder NOTIFY folderChanged)
    /// Only folders are listed (the output-folder panel).
    Q_PROPERTY(bool foldersOnly READ foldersOnly WRITE setFoldersOnly NOTIFY foldersOnlyChanged)
    Q_PROPERTY(bool canGoUp READ canGoUp NOTIFY folderChanged)
    Q_PROPERTY(int count READ count NOTIFY countChanged)
    /// The folder's path split for the path bar: [{name, path}], root first.
    Q_PROPERTY(QVariantList crumbs READ crumbs NOTIFY folderChanged)

public:
    enum Role { NameRole = Qt::UserRole + 1, PathRole, UrlRole, IsFolderRole, DetailRole };
    static constexpr int maxEntries = 20000;

    explicit FolderModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

    QString folder() const { return m_folder; }
    void setFolder(const QString& folder);
    bool foldersOnly() const { return m_foldersOnly; }
    void setFoldersOnly(bool only);
    bool canGoUp() const;
    int count() const { return static_cast<int>(m_entries.size()); }
    QVariantList crumbs() const;

    /// The file URL of a local path.
    Q_INVOKABLE static QUrl urlOf(const QString& path) { return QUrl::fromLocalFile(path); }
    /// The user's home folder.
    Q_INVOKABLE static QString home();
    Q_INVOKABLE void goUp();
    /// Lists the folder again.
    Q_INVOKABLE void refresh();
    Q_INVOKABLE QString pathAt(int row) const;
    Q_INVOKABLE bool isFolderAt(int row) const;
    /// File URLs of the given rows, in the listing's order.
    Q_INVOKABLE QList<QUrl> urlsOf(const QList<int>& rows) const;
    /// Paths typed by the user: one per line, or several in double quotes; relative
    /// names are taken in the shown folder. Only existing items, as file URLs.
    Q_INVOKABLE QList<QUrl> typedUrls(const QString& text) const;
    /// Whether `path` (absolute or relative to the shown folder) is a folder; its
    /// absolute path, or "" when it is not.
    Q_INVOKABLE QString folderAt(const QString& path) const;
    /// Makes the folder `name` in the shown folder and returns its row; -1 when the
    /// name is taken, is not one plain name, or the folder cannot be made.
    Q_INVOKABLE int makeFolderNamed(const QString& name);
    /// Makes the folder `path` (absolute or relative to the shown folder), with the
    /// folders above it that are missing; its absolute path, or "" when it cannot.
    Q_INVOKABLE QString createFolder(const QString& path);
    /// The absolute, cleaned form of a typed path, for messages.
    Q_INVOKABLE QString absolutePath(const QString& path) const;
    /// Row of the entry with that name, or -1.
    Q_INVOKABLE int rowNamed(const QString& name) const;

signals:
    void folderChanged();
    void foldersOnlyChanged();
    void countChanged();

private:
    struct Entry {
        QString name;
        QString path;
        bool isFolder = false;
        QString detail;
    };

    QString absolute(const QString& path) const;

    QString m_folder;
    bool m_foldersOnly = false;
    std::vector<Entry> m_entries;
};

} // namespace lumatra

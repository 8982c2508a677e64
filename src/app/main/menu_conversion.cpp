#include "main/menu_conversion.h"

#include "formats/byte_count.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QFile>
#include <QProcess>
#include <QUrl>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <unordered_map>

namespace lumatra::Main {
namespace {

namespace fs = std::filesystem;

// How often the notification and the progress follow the conversions.
constexpr int tickMs = 500;
// Reasons listed in the end notification; the rest are counted.
constexpr int listedFailures = 5;

QString qt(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QString shownPath(const fs::path& path) {
    return QFile::decodeName(QByteArray::fromStdString(path.native()));
}

void say(const std::string& line) {
    std::fputs((line + "\n").c_str(), stderr);
    std::fflush(stderr);
}

// Runs the desktop's opener for `path` without waiting for it, with the signals this
// process holds back delivered to it as usual.
void openWithDesktop(const fs::path& path) {
    QProcess opener;
    opener.setProgram(QStringLiteral("xdg-open"));
    opener.setArguments({shownPath(path)});
    opener.setChildProcessModifier([] {
        sigset_t none;
        sigemptyset(&none);
        pthread_sigmask(SIG_SETMASK, &none, nullptr);
    });
    opener.startDetached();
}

// The file manager at `file`, through FileManager1; the containing folder otherwise.
void reveal(const fs::path& file) {
    const auto folder = file.parent_path();
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!sessionBusExpected() || !bus.isConnected()) {
        openWithDesktop(folder);
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"),
        QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << QStringList{QUrl::fromLocalFile(shownPath(file)).toString()} << QString();
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, 3000));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
                     [folder](QDBusPendingCallWatcher* done) {
                         if (QDBusPendingReply<>(*done).isError()) openWithDesktop(folder);
                         done->deleteLater();
                     });
}

} // namespace

std::string unwritableFolderReason(const fs::path& folder) {
    if (::access(folder.c_str(), W_OK) == 0) return {};
    const int error = errno;
    const std::string where = "«" + folder.string() + "»";
    std::string why;
    switch (error) {
    case EROFS:
        why = "папка " + where + " только для чтения";
        break;
    case ENOENT:
    case ENOTDIR:
        why = "папки " + where + " нет";
        break;
    default:
        why = "в папку " + where + " нельзя записывать";
        break;
    }
    return "некуда сохранить результат: " + why +
           ". Выберите другую папку для результатов внизу окна Lumatra («Выбрать папку…»)";
}

MenuConversion::MenuConversion(Options options, int budget, int lingerMs, QObject* parent)
    : QObject(parent), m_options(std::move(options)), m_lingerMs(lingerMs) {
    ConversionPool::Events events;
    // The pool calls these on its workers, some under its lock: the rest happens on the
    // main thread.
    events.started = [this](std::uint64_t ticket) {
        QMetaObject::invokeMethod(
            this, [this, ticket] { started(ticket); }, Qt::QueuedConnection);
    };
    events.progress = [this](std::uint64_t ticket, double fraction) {
        std::lock_guard lock(m_progressLock);
        if (const auto found = m_progress.find(ticket); found != m_progress.end())
            found->second = std::clamp(fraction, 0.0, 1.0);
    };
    events.finished = [this](std::uint64_t ticket, const ConversionPool::Outcome& outcome) {
        QMetaObject::invokeMethod(
            this, [this, ticket, outcome] { ended(ticket, outcome); }, Qt::QueuedConnection);
    };
    m_pool = std::make_unique<ConversionPool>(std::move(events), std::max(1, budget));
    m_pool->setOptions(m_options);

    m_tick.setInterval(tickMs);
    connect(&m_tick, &QTimer::timeout, this, &MenuConversion::report);
    m_linger.setSingleShot(true);
    connect(&m_linger, &QTimer::timeout, this, &MenuConversion::finished);
    connect(&m_notification, &DesktopNotification::actionInvoked, this, &MenuConversion::act);
    connect(&m_notification, &DesktopNotification::closed, this, [this](bool byUser) {
        // Dismissed while it runs: no more progress, only the end.
        if (!m_over && byUser) m_quiet = true;
        if (m_over) emit finished();
    });
    connect(&m_notification, &DesktopNotification::shown, this, [this] {
        if (m_over && m_lingerEndsShown) emit finished();
    });
    connect(&m_notification, &DesktopNotification::serverAnswered, this, [this](bool present) {
        if (!present && m_over) emit finished();
    });
}

MenuConversion::~MenuConversion() {
    // The workers stop before the members their events reach go.
    m_pool.reset();
}

void MenuConversion::add(const std::vector<std::string>& inputs, Format target) {
    if (m_over) {
        // A new batch: the counts start again.
        m_over = false;
        m_stopping = false;
        m_first = m_entries.size();
        m_targets.clear();
        m_total = m_ended = m_done = m_skipped = 0;
        m_failures.clear();
        m_outputs.clear();
        m_linger.stop();
    }
    if (std::find(m_targets.begin(), m_targets.end(), target) == m_targets.end())
        m_targets.push_back(target);

    std::vector<std::string> paths;
    for (const std::string& input : inputs)
        paths.push_back(pathFromArgument(input));
    std::vector<std::string> skipped;
    std::vector<BatchItem> items = batchItems(paths, target, skipped);
    for (const auto& line : skipped)
        say(line);
    m_skipped += static_cast<int>(skipped.size());

    // A folder that takes no result fails its files at once, saying where to choose another.
    std::unordered_map<std::string, std::string> reasons;
    for (BatchItem& item : items) {
        if (item.failure) continue;
        const fs::path folder = m_options.outputDirectory.value_or(item.path.parent_path());
        auto [at, fresh] = reasons.try_emplace(folder.native());
        if (fresh) at->second = unwritableFolderReason(folder);
        if (!at->second.empty()) item.failure = "Ошибка: " + item.shown + ": " + at->second;
    }
    for (BatchItem& item : items) {
        const std::uint64_t ticket = m_entries.size() + 1;
        m_entries.push_back({item, target});
        ++m_total;
        if (item.failure) {
            say(*item.failure);
            m_failures.push_back(item.failure->substr(std::string("Ошибка: ").size()));
            ++m_ended;
            continue;
        }
        const bool video = takesEveryCore(kindOf(item.path), target);
        m_waiting.push_back({ticket, item.path, target, video ? m_pool->budget() : 1, 0});
    }
    if (m_stopping) return;
    m_pool->plan(m_waiting);
    m_tick.start();
    report();
}

void MenuConversion::stop() {
    // Over, and waiting for the user's answer: there is nothing left to stop.
    if (m_over) {
        emit finished();
        return;
    }
    if (m_stopping) return;
    m_stopping = true;
    m_waiting.clear();
    m_pool->plan({});
    for (std::size_t at = m_first; at < m_entries.size(); ++at)
        m_pool->cancel(at + 1);
    report();
}

void MenuConversion::started(std::uint64_t ticket) {
    std::erase_if(m_waiting, [ticket](const auto& request) { return request.ticket == ticket; });
    m_running.push_back(ticket);
    std::lock_guard lock(m_progressLock);
    m_progress.try_emplace(ticket, 0.0);
}

void MenuConversion::ended(std::uint64_t ticket, const ConversionPool::Outcome& outcome) {
    std::erase(m_running, ticket);
    {
        std::lock_guard lock(m_progressLock);
        m_progress.erase(ticket);
    }
    const Entry& entry = m_entries[ticket - 1];
    ++m_ended;
    switch (outcome.kind) {
    case ConversionPool::Outcome::Kind::done: {
        ++m_done;
        m_outputs.push_back(outcome.result.output);
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%.1f", outcome.result.seconds);
        say("Готово: " + outcome.result.output.string() + " · " +
            formatByteCount(outcome.result.bytes) + " · " + seconds + " с");
        break;
    }
    case ConversionPool::Outcome::Kind::failed:
        say("Ошибка: " + entry.item.shown + ": " + outcome.message);
        m_failures.push_back(entry.item.path.filename().string() + ": " + outcome.message);
        break;
    case ConversionPool::Outcome::Kind::cancelled:
        break;
    }
    report();
}

QString MenuConversion::targetsText() const {
    QStringList titles;
    for (Format format : m_targets)
        titles << qt(std::string(title(format)));
    return titles.join(QStringLiteral(", "));
}

void MenuConversion::report() {
    if (m_over) return;
    const bool settled = m_running.empty() && (m_stopping || m_waiting.empty());
    if (m_ended >= m_total || (m_stopping && settled)) {
        conclude();
        return;
    }
    double running = 0;
    QString current;
    {
        std::lock_guard lock(m_progressLock);
        for (const auto& [ticket, fraction] : m_progress)
            running += fraction;
    }
    if (!m_running.empty())
        current = shownPath(m_entries[m_running.back() - 1].item.path.filename());
    if (m_running.size() > 1) current += QStringLiteral(" и ещё %1").arg(m_running.size() - 1);
    const int percent =
        static_cast<int>(std::min(1.0, (m_ended + running) / std::max(1, m_total)) * 100);
    const int number = std::min(m_total, m_ended + 1);
    const QString summary = m_stopping ? QStringLiteral("Останавливаю…")
                                       : QStringLiteral("Конвертирую %1 из %2 → %3")
                                             .arg(number)
                                             .arg(m_total)
                                             .arg(targetsText());
    if (m_quiet && !m_stopping) return;
    m_notification.show(summary, current, {{QStringLiteral("stop"), QStringLiteral("Остановить")}},
                        percent);
}

void MenuConversion::conclude() {
    m_over = true;
    m_quiet = false;
    m_tick.stop();
    const int failed = static_cast<int>(m_failures.size());
    if (m_done < m_total) m_status = 1;

    QString summary;
    QStringList lines;
    if (m_total == 0) {
        summary = QStringLiteral("Нечего конвертировать в %1").arg(targetsText());
        m_status = 1;
    } else if (m_stopping) {
        summary = QStringLiteral("Остановлено: готово %1 из %2").arg(m_done).arg(m_total);
    } else if (failed == 0) {
        summary = QStringLiteral("Готово %1 → %2").arg(m_done).arg(targetsText());
    } else {
        summary = QStringLiteral("Готово %1, ошибок %2").arg(m_done).arg(failed);
    }
    for (int at = 0; at < std::min(failed, listedFailures); ++at)
        lines << qt(m_failures[at]);
    if (failed > listedFailures) lines << QStringLiteral("и ещё %1").arg(failed - listedFailures);
    if (m_skipped > 0)
        lines << QStringLiteral("Пропущено: %1 — не конвертируются в %2")
                     .arg(m_skipped)
                     .arg(targetsText());
    if (m_done == 1 && failed == 0) {
        lines.prepend(shownPath(m_outputs.front().filename()));
    } else if (!m_outputs.empty() && failed == 0) {
        // Where they are, when they are together.
        const auto folder = m_outputs.front().parent_path();
        const bool together = std::all_of(m_outputs.begin(), m_outputs.end(), [&](const auto& out) {
            return out.parent_path() == folder;
        });
        if (together)
            lines.prepend(QStringLiteral("В папке «%1»").arg(shownPath(folder.filename())));
    }
    say(summary.toStdString());

    QList<DesktopNotification::Action> actions;
    if (!m_outputs.empty()) actions.append({QStringLiteral("show"), QStringLiteral("Показать")});
    if (m_total == 1 && m_outputs.size() == 1)
        actions.append({QStringLiteral("open"), QStringLiteral("Открыть")});
    m_notification.show(summary, lines.join(QLatin1Char('\n')), actions, -1, !actions.isEmpty());
    if (!m_notification.available()) {
        // No one to tell: the lines on standard error are all.
        QTimer::singleShot(0, this, [this] {
            if (m_over) emit finished();
        });
        return;
    }
    // Without actions the end is over once the service shows it; with them, once the
    // user acts or the notification goes.
    m_lingerEndsShown = actions.isEmpty();
    m_linger.start(m_lingerMs);
}

void MenuConversion::act(const QString& key) {
    if (key == QLatin1String("stop")) {
        stop();
        return;
    }
    if (!m_over || m_outputs.empty()) return;
    if (key == QLatin1String("show")) reveal(m_outputs.front());
    if (key == QLatin1String("open")) openWithDesktop(m_outputs.front());
    m_notification.close();
    emit finished();
}

} // namespace lumatra::Main

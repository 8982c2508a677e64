#pragma once
// A conversion started from the file manager's menu, run without the window: files
// join one queue on the conversion pool, and one desktop notification tells how it goes
// and how it ended (lines on standard error say the same).

#include "formats/convert_error.h"
#include "formats/format.h"
#include "main/batch.h"
#include "platform/notifications.h"
#include "pool/conversion_pool.h"

#include <QObject>
#include <QStringList>
#include <QTimer>

#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace lumatra::Main {

/// The files' folder when a result cannot be written there: the reason, in Russian,
/// with where to choose another folder; empty when it can. Nothing is created.
std::string unwritableFolderReason(const std::filesystem::path& folder);

/// Main thread. Converts what add() is given with `options` and `budget` cores; files
/// added while a batch runs join it. Emits finished() once a batch is over and its end
/// notification has been dealt with (an action chosen, the notification closed, no
/// notification service, or `linger` passed).
class MenuConversion : public QObject {
    Q_OBJECT

public:
    MenuConversion(Options options, int budget, int lingerMs = 10 * 60 * 1000,
                   QObject* parent = nullptr);
    ~MenuConversion() override;

    /// Queues `inputs` (files or folders, as the batch command line takes them).
    void add(const std::vector<std::string>& inputs, Format target);
    /// Stops every conversion of the batch; the ones not started never start. After the
    /// batch, stops waiting for the user's answer (emits finished()).
    void stop();
    /// 0 when every file of the batches so far was converted, else 1.
    int status() const { return m_status; }

signals:
    void finished();

private:
    struct Entry {
        BatchItem item;
        Format target;
    };
    void started(std::uint64_t ticket);
    void ended(std::uint64_t ticket, const ConversionPool::Outcome& outcome);
    void fail(const std::string& shown, const std::string& message);
    void report();
    void conclude();
    void act(const QString& key);
    QString targetsText() const;

    Options m_options;
    int m_lingerMs;
    DesktopNotification m_notification;
    std::unique_ptr<ConversionPool> m_pool;
    QTimer m_tick;
    QTimer m_linger;

    std::vector<Entry> m_entries; // ticket - 1 indexes it
    std::vector<ConversionPool::Request> m_waiting;
    // This batch: what it holds and how far it got.
    std::size_t m_first = 0; // the batch's first entry
    std::vector<Format> m_targets;
    int m_total = 0;
    int m_ended = 0;
    int m_done = 0;
    int m_skipped = 0;
    bool m_stopping = false;
    bool m_over = true;
    bool m_lingerEndsShown = false;
    bool m_quiet = false; // the user dismissed the progress

    std::vector<std::string> m_failures;
    std::vector<std::filesystem::path> m_outputs;
    std::vector<std::uint64_t> m_running;
    int m_status = 0;

    mutable std::mutex m_progressLock;
    std::map<std::uint64_t, double> m_progress;
};

} // namespace lumatra::Main

#include "pool/conversion_pool.h"

#include "converter/converter.h"
#include "tools/tools.h"

#include <pthread.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>

namespace lumatra {

namespace {

ConvertResult convertWithEngine(const ConversionPool::Request& request, const Options& options,
                                const std::function<void(double)>& progress, std::stop_token stop) {
    // The tools are located for every conversion, so a tool installed meanwhile is used.
    return Converter(Tools::locate()).run(request.source, request.target, options, progress, stop);
}

} // namespace

ConversionPool::ConversionPool(Events events, int budget, Convert convert)
    : m_events(std::move(events)), m_convert(convert ? std::move(convert) : convertWithEngine),
      m_budget(std::max(1, budget)) {}

ConversionPool::~ConversionPool() {
    {
        std::lock_guard lock(m_lock);
        m_stopping = true;
        m_waiting.clear();
        // Ask every conversion first, so that they stop side by side.
        for (auto& [ticket, stop] : m_running)
            stop.request_stop();
    }
    for (auto& worker : m_workers)
        worker.request_stop();
    m_wake.notify_all();
    m_workers.clear();
}

void ConversionPool::setBudget(int cores) {
    {
        std::lock_guard lock(m_lock);
        m_budget = std::max(1, cores);
        growTo(m_budget);
    }
    m_wake.notify_all();
}

void ConversionPool::prepare() {
    std::lock_guard lock(m_lock);
    growTo(m_budget);
}

bool takesEveryCore(std::optional<Kind> source, Format target) {
    if (source == Kind::video) return true;
    switch (target) {
    case Format::mp4:
    case Format::hevc:
    case Format::mov:
    case Format::webm:
    case Format::mkv:
        return true;
    default:
        return false;
    }
}

int ConversionPool::budget() const {
    std::lock_guard lock(m_lock);
    return m_budget;
}

void ConversionPool::setOptions(Options options) {
    std::lock_guard lock(m_lock);
    m_options = std::move(options);
}

void ConversionPool::plan(std::vector<Request> waiting) {
    {
        std::lock_guard lock(m_lock);
        std::erase_if(waiting,
                      [&](const Request& request) { return m_taken.count(request.ticket); });
        m_waiting = std::move(waiting);
        if (!m_waiting.empty()) growTo(m_budget);
    }
    m_wake.notify_all();
}

bool ConversionPool::withdraw(std::uint64_t ticket) {
    std::lock_guard lock(m_lock);
    const auto found =
        std::find_if(m_waiting.begin(), m_waiting.end(),
                     [&](const Request& request) { return request.ticket == ticket; });
    if (found != m_waiting.end()) {
        m_waiting.erase(found);
        return true;
    }
    return !m_taken.count(ticket);
}

void ConversionPool::cancel(std::uint64_t ticket) {
    std::lock_guard lock(m_lock);
    if (const auto found = m_running.find(ticket); found != m_running.end())
        found->second.request_stop();
}

int ConversionPool::runningCount() const {
    std::lock_guard lock(m_lock);
    return static_cast<int>(m_running.size());
}

bool ConversionPool::idle() const {
    std::lock_guard lock(m_lock);
    return m_running.empty();
}

// Under the lock.
bool ConversionPool::canStart() const {
    if (m_waiting.empty()) return false;
    return m_running.empty() || m_used + m_waiting.front().weight <= m_budget;
}

// Under the lock. Every job takes at least one core, so a worker per core suffices.
void ConversionPool::growTo(int threads) {
    while (!m_stopping && static_cast<int>(m_workers.size()) - m_retired < threads)
        m_workers.emplace_back([this](std::stop_token stop) { work(stop); });
}

void ConversionPool::work(std::stop_token stop) {
    // Named, so that tools and measurements tell the conversions from the window.
    ::pthread_setname_np(::pthread_self(), "convert");
    std::unique_lock lock(m_lock);
    for (;;) {
        if (!m_wake.wait(lock, stop, [this] { return canStart(); })) return;
        const Request request = std::move(m_waiting.front());
        m_waiting.erase(m_waiting.begin());
        m_taken.insert(request.ticket);
        m_used += request.weight;
        const Options options = m_options;
        std::stop_source stopper;
        m_running.emplace(request.ticket, stopper);
        if (m_events.started) m_events.started(request.ticket);
        lock.unlock();

        // A conversion that fills every core yields to the window: its encoder still
        // takes every idle cycle, but never a frame. The others keep the niceness of
        // the program, like one converter run after another from a shell.
        const bool raised = request.niceness > 0;
        if (raised) ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), request.niceness);

        Outcome outcome;
        const auto progress = [&](double fraction) {
            if (m_events.progress) m_events.progress(request.ticket, fraction);
        };
        const std::stop_token token = stopper.get_token();
        try {
            outcome.result = m_convert(request, options, progress, token);
            outcome.kind = Outcome::Kind::done;
        } catch (const CancelledError&) {
            outcome.kind = Outcome::Kind::cancelled;
        } catch (const std::exception& error) {
            // A failure while being stopped is the stop showing through.
            outcome.kind =
                token.stop_requested() ? Outcome::Kind::cancelled : Outcome::Kind::failed;
            outcome.message = describe(error);
        } catch (...) {
            outcome.kind =
                token.stop_requested() ? Outcome::Kind::cancelled : Outcome::Kind::failed;
            outcome.message = "Не удалось конвертировать файл";
        }

        lock.lock();
        m_used -= request.weight;
        m_running.erase(request.ticket);
        outcome.poolIdle = m_running.empty() && m_waiting.empty();
        if (m_events.finished) m_events.finished(request.ticket, outcome);
        // Room was given back: another worker may fit a request the budget held back.
        m_wake.notify_all();
        if (raised) {
            ++m_retired;
            growTo(m_budget);
            return;
        }
    }
}

} // namespace lumatra

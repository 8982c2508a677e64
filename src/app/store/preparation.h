#pragma once
// What converts the added files, made ready ahead while the user picks targets: the
// engine's media and image libraries, the text converter's warm engines, and a look
// into each video for a sound track. The text engines are asked to end when the
// window quits.

#include <QElapsedTimer>

namespace lumatra {

class Job;
class JobListModel;

/// Main thread only; the loading and looking happen on Qt's global thread pool.
class Preparation {
public:
    /// For the jobs in the list: the media and image libraries on a background thread,
    /// each once, and for documents the text converter's engines, one per document up
    /// to nine (starting one costs about a second).
    void prepare(const JobListModel& jobs);

    /// A video without a sound track cannot become a song: its sound-only targets go as
    /// soon as a look into the file (a few milliseconds) says so.
    static void probeSound(Job* job);

    /// A document was converted: the text converter's engines may run on our behalf.
    void noteTextEngineUsed() { m_usedTextEngine = true; }
    /// Asks the text converter's warm engines, which a document of this window may have
    /// started, to end as soon as no other run waits for them. Waits at most two seconds.
    void releaseTextEngine();

private:
    void prepareLibraries(const JobListModel& jobs);
    void prepareTextEngine(const JobListModel& jobs);

    bool m_usedTextEngine = false;
    bool m_mediaPrepared = false;
    bool m_imagesPrepared = false;
    QElapsedTimer m_textEnginePrepared;
};

} // namespace lumatra

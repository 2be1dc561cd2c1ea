#pragma once

#include <atomic>
#include <deque>
#include <mutex>
#include <QApplication>
#include <vector>

// The window program's application object: it delivers a run's reports to
// the window in bundles.
//
// A run's thread sends the window two progress values and a status line for
// every KiB it moves, each a queued call. The toolkit wakes the GUI thread
// for every queued call it is given (on the glib event loop, a write to an
// event descriptor each time), so that the run paid a system call per report,
// and more per block the slower the machine. While the window still has a
// call of the run waiting to be delivered, the run's further reports are kept
// here without waking anyone and handed to the window right after that call,
// one by one: every report still reaches its slot, in the order it was sent,
// and before anything the window was sent after it.
class WindowApplication final : public QApplication
{
public:
    WindowApplication(int &argc, char **argv);
    ~WindowApplication() override;

    // Reports sent to window are bundled from now on, if this process's
    // application is a WindowApplication; until the window is destroyed.
    static void bundleReportsTo(QObject *window);

    bool notify(QObject *receiver, QEvent *event) override;

    // How many reports were handed over in a bundle, rather than each waking the window.
    quint64 bundledReports() const { return bundled.load(std::memory_order_relaxed); }

protected:
    bool compressEvent(QEvent *event, QObject *receiver, QPostEventList *posted) override;

private:
    // A call the toolkit delivers, and the reports that follow it.
    struct Bundle
    {
        const QObject *to;
        const QEvent *first;
        std::vector<QEvent *> following;
        bool open = true; // taking reports
    };

    void deliverFollowing(QObject *receiver);
    // Deletes the reports held for receiver, or for every window.
    void drop(const QObject *receiver = nullptr);

    // The standard library's, which thread checkers see, as they do not see the toolkit's.
    std::mutex mutex;
    // Read without the lock where only a cheap first look is needed.
    std::atomic<QObject *> window{nullptr};
    std::atomic<const QEvent *> nextFirst{nullptr};
    std::deque<Bundle> bundles;
    std::atomic<quint64> bundled{0};
};
